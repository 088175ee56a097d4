#!/bin/bash
# Starts or stops the printer simulator for a Windows test run:
#   sim_fixture.sh start|stop STATE_DIR
#   sim_fixture.sh run STATE_DIR COMMAND [ARGS...]
# The COM printer appears as COM5 of the current WINEPREFIX; LAN printers
# listen on ${KIT_SIM_BASE}2 .. ${KIT_SIM_BASE}6 (up to ${KIT_SIM_BASE}N+1 with
# KIT_SIM_PRINTERS=N, for the long lists of the soak run) and the control port on
# ${KIT_SIM_BASE}1:19900. KIT_SIM_BASE (default "127.0.0.") lets test runs
# that share a machine use different loopback addresses.
# `run` draws a loopback range of its own for KIT_SIM_BASE (another draw
# when a range is taken), runs the command with the simulator beside it and
# stops it afterwards; on a failure it shows the end of the simulator's log.
set -euo pipefail
action=$1
state=$2
base="${KIT_SIM_BASE:-127.0.0.}"
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$state"
case "$action" in
  start)
    [ -n "${WINEPREFIX:-}" ] || { echo "WINEPREFIX is not set" >&2; exit 1; }
    [ -f "$state/sim.pid" ] && kill "$(cat "$state/sim.pid")" 2>/dev/null || true
    mkdir -p "$WINEPREFIX/dosdevices"
    tcp=()
    for i in $(seq 2 $(( ${KIT_SIM_PRINTERS:-5} + 1 ))); do tcp+=(--tcp "${base}$i"); done
    python3 -u "$here/printer_sim.py" --control "${base}1:19900" \
      --pty "$WINEPREFIX/dosdevices/com5" \
      "${tcp[@]}" >"$state/sim.log" 2>&1 &
    echo $! >"$state/sim.pid"
    for _ in $(seq 100); do
      grep -q READY "$state/sim.log" && exit 0
      kill -0 "$(cat "$state/sim.pid")" 2>/dev/null || break
      sleep 0.1
    done
    cat "$state/sim.log" >&2
    exit 1
    ;;
  stop)
    [ -f "$state/sim.pid" ] && kill "$(cat "$state/sim.pid")" 2>/dev/null || true
    rm -f "$state/sim.pid"
    ;;
  run)
    shift 2
    for try in 1 2 3 4 5; do
      export KIT_SIM_BASE="127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1))."
      bash "$0" start "$state" 2>"$state/start.err" && break
      [ $try = 5 ] && { cat "$state/start.err" >&2; exit 1; }
    done
    rc=0
    "$@" || rc=$?
    bash "$0" stop "$state"
    [ $rc -ne 0 ] && tail -n 20 "$state/sim.log" | sed 's/^/[simulator] /' >&2
    exit $rc
    ;;
esac
