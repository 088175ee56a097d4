#!/bin/bash
# Throughput of lanquay's LqWritePort beside a plain Winsock sender of the
# same block, to a fast sink and to a slow reader (about 200 KB/s through a
# small receive buffer), all on loopback. Not part of scripts/test.sh.
#   scripts/bench-lanquay.sh [BUILD_DIR]      (default build/x86_64, built first)
# Environment: FAST_BYTES (default 16 MiB), SLOW_BYTES (default 2 MiB),
# FAST_RUNS (default 3).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${1:-$root/build/x86_64}"
if [ "${1:-}" != "--inside" ]; then
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" >/dev/null
  fi
  cmake --build "$build" -j2 --target bench_lanquay >/dev/null
  exec bash "$root/scripts/wine-session.sh" bash "$0" --inside "$build"
fi
build=$2
host="${KIT_SIM_BASE:-127.0.0.}2"
fast_bytes=${FAST_BYTES:-16777216}
slow_bytes=${SLOW_BYTES:-2097152}
fast_runs=${FAST_RUNS:-3}
sink_pid=""
stop_sink() {
  if [ -n "$sink_pid" ]; then kill "$sink_pid" 2>/dev/null || true; wait "$sink_pid" 2>/dev/null || true; fi
  sink_pid=""
}
trap stop_sink EXIT
start_sink() {
  local log
  log=$(mktemp)
  python3 -u "$root/tools/bench_sink.py" "$host" --ports 9100,9101 "$@" >"$log" 2>&1 &
  sink_pid=$!
  for _ in $(seq 50); do
    grep -q READY "$log" && { rm -f "$log"; return 0; }
    sleep 0.1
  done
  cat "$log" >&2
  exit 1
}
bench="$build/lanquay/bench_lanquay.exe"

start_sink --expect "$fast_bytes"
wine "$bench" "$host" "$fast_bytes" fast "$fast_runs"
stop_sink

start_sink --expect "$slow_bytes" --rate 200000 --rcvbuf 16384
wine "$bench" "$host" "$slow_bytes" slow 1
stop_sink
