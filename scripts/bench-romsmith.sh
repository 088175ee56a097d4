#!/bin/bash
# Romsmith's firmware write to one LAN printer beside a plain sender of the
# same bytes to the same sink: an automatic run (the operator program
# answering) of a 4 MiB file, once to a sink that reads as fast as it can
# and once to one that reads about 1 MB/s, all on loopback. The sink times
# each connection from its first byte to its last; the ratio compares those
# rates. The time outside the transfer is the rest of the run from the
# start to the POWER-lamp message plus the way out after the last OK (the
# operator answers at once, so confirmations count for next to nothing).
# Not part of scripts/test.sh.
#   scripts/bench-romsmith.sh [BUILD_DIR]      (default build/x86_64, built first)
# Environment: BENCH_BYTES (default 4194304), SLOW_RATE (default 1000000).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" != "--inside" ]; then
  build="${1:-$root/build/x86_64}"
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" >/dev/null
  fi
  cmake --build "$build" -j2 --target Romsmith lanquay romsmith_operator bench_lanquay >/dev/null
  log=$(mktemp /tmp/kit-bench.XXXXXX.log)
  bash "$root/scripts/wine-session.sh" bash "$0" --inside "$build" 3>&1 >"$log" 2>&1 || {
    echo "benchmark failed; log: $log" >&2
    exit 1
  }
  rm -f "$log"
  exit 0
fi
build=$2
say() { echo "$@" >&3; }
host="${KIT_SIM_BASE:-127.0.0.}2"
bytes=${BENCH_BYTES:-4194304}
slow_rate=${SLOW_RATE:-1000000}
work=$(mktemp -d /tmp/kit-bench.XXXXXX)
sink_pid=""
stop_sink() {
  if [ -n "$sink_pid" ]; then kill "$sink_pid" 2>/dev/null || true; wait "$sink_pid" 2>/dev/null || true; fi
  sink_pid=""
}
trap 'stop_sink; rm -rf "$work"' EXIT
operator="$build/tools/romsmith_operator.exe"
folder="$work/Romsmith"
wine "$operator" prepare "$(winepath -w "$folder")" "$build/romsmith/Romsmith.exe" "$build/lanquay/lanquay.dll" \
  PowerOn LAN English "$host"
python3 "$root/tools/make_firmware.py" "$folder/bench.hex" "$bytes"
# Measured as a technician runs it: without the debug log.
rm -rf "$folder/Log"
# Without a window manager, Wine waits up to 2 s for one each time it hides
# a managed window (the confirmation, the progress dialog); unmanaged
# windows measure Romsmith instead of that wait.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null

# One sink, one Romsmith run and one plain run; prints the figures.
measure() {
  local label=$1
  shift
  python3 -u "$root/tools/bench_sink.py" "$host" --ports 9100,9101 --expect "$bytes" --report "$@" \
    >"$work/sink.txt" 2>&1 &
  sink_pid=$!
  for _ in $(seq 50); do grep -q READY "$work/sink.txt" && break; sleep 0.1; done
  wine "$operator" write "$(winepath -w "$folder")" "$(winepath -w "$folder/bench.hex")" >"$work/operator.txt"
  # The plain sender of tools/bench_lanquay.cpp (one send call for the whole
  # block); its own figures, timed by the sender up to the sink's answer,
  # show lanquay's share apart from Romsmith's.
  wine "$build/lanquay/bench_lanquay.exe" "$host" "$bytes" "$label" 1 | sed 's/\r$//; s/^/  bench_lanquay: /' >&3
  for _ in $(seq 100); do [ "$(grep -c '^CONN 9101' "$work/sink.txt")" -ge 2 ] && break; sleep 0.1; done
  stop_sink
  python3 - "$label" "$bytes" "$work/sink.txt" "$work/operator.txt" >&3 <<'PY'
import re, sys
label, total, sink, operator = sys.argv[1], int(sys.argv[2]), open(sys.argv[3]).read(), open(sys.argv[4]).read()
conns = [l.split() for l in sink.splitlines() if l.startswith("CONN ")]
romsmith = [float(c[3]) for c in conns if c[1] == "9100" and int(c[2]) == total][0]
plain = [float(c[3]) for c in conns if c[1] == "9101" and int(c[2]) == total][0]
m = re.search(r"start-up ([\d.]+) s, confirmed to POWER lamp ([\d.]+) s, last OK to exit ([\d.]+) s", operator)
startup, writing, leaving = (float(x) for x in m.groups())
code = re.search(r"exit code: (\d+)", operator).group(1)
mib = total / 1048576.0
print("%-4s %.2f MiB  Romsmith %7.2f MiB/s  plain %7.2f MiB/s  ratio %.2f  (exit code %s)"
      % (label, mib, mib / romsmith, mib / plain, plain / romsmith, code))
print("%-4s outside the transfer %.2f s: start-up to confirmation %.2f s, confirmation to POWER lamp beyond "
      "the transfer %.2f s, last OK to exit %.2f s" % (label, startup + writing - romsmith + leaving, startup,
                                                       writing - romsmith, leaving))
PY
}
say "Romsmith firmware write over LAN against a plain sender, $bytes bytes, loopback"
measure fast
measure slow --rate "$slow_rate"
