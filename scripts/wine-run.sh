#!/bin/sh
# Runs one Windows program under Wine: the emulator that CTest puts in front of
# every Windows test program. WINEPREFIX and DISPLAY come from the test run.
export WINEDEBUG="${WINEDEBUG:--all}"
exec wine "$@"
