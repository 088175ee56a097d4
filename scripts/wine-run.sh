#!/bin/bash
# Runs one Windows program under Wine: the emulator that CTest puts in front
# of every Windows test program.
#   wine-run.sh PROGRAM [ARGS...]           the program under Wine
#   wine-run.sh --session COMMAND [ARGS...] a command that calls Wine itself
# Inside a test run that made a ready prefix (KIT_WINE_TEMPLATE), each call
# gets a Wine session of its own (scripts/wine-session.sh), so that CTest can
# run test programs side by side; otherwise it uses the caller's WINEPREFIX
# and DISPLAY. A program that talks to the printer simulator
# (KIT_SESSION_SIM=1) gets one of its own either way.
set -euo pipefail
export WINEDEBUG="${WINEDEBUG:--all}"
if [ "${1:-}" = --session ]; then
  shift
  command=("$@")
else
  command=(wine "$@")
fi
if [ -n "${KIT_WINE_TEMPLATE:-}" ]; then
  exec bash "$(dirname "$0")/wine-session.sh" "${command[@]}"
fi
if [ "${KIT_SESSION_SIM:-}" = 1 ]; then
  state=$(mktemp -d /tmp/kit-sim.XXXXXX)
  trap 'rm -rf "$state"' EXIT
  bash "$(dirname "$0")/../tools/sim_fixture.sh" run "$state" "${command[@]}"
else
  exec "${command[@]}"
fi
