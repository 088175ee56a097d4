#!/bin/bash
# Runs a command inside a fresh Wine session: its own WINEPREFIX (so nothing
# from an earlier run leaks in) and its own X display. The prefix and the
# wineserver are removed afterwards.
#   wine-session.sh COMMAND [ARGS...]
set -euo pipefail
if [ "${1:-}" = "--inside" ]; then
  shift
  wineboot -i >/dev/null 2>&1
  wineserver -w
  exec "$@"
fi
prefix=$(mktemp -d /tmp/kit-wine.XXXXXX)
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# A loopback range of its own, so that test runs sharing a machine never meet.
export KIT_SIM_BASE="${KIT_SIM_BASE:-127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1)).}"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT
xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --inside "$@"
