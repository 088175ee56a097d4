#!/bin/bash
# Romsmith's firmware write to one LAN printer beside a plain sender of the
# same bytes to the same sink: an automatic run (the operator program
# answering) of a 4 MiB file, once to a sink that reads as fast as it can
# and once to one that reads about 1 MB/s, all on loopback. The sink times
# each connection from its first byte to its last; the ratio compares those
# rates. The time outside the transfer is the rest of the run from the
# start to the POWER-lamp message plus the way out after the last OK (the
# operator answers at once, so confirmations count for next to nothing).
# Then a LAN list of 20 printers, each reading about 1 MB/s: one automatic
# Romsmith run writes a 600 KB file to all of them, against a plain sender
# that writes the same file to each in turn; printed are both totals, their
# ratio and Romsmith's time per printer beyond its transfer (the sinks time
# each transfer). Then Get Version (the selected printer) and Reset Printer
# (the whole list) against simulated printers at the same addresses.
# Then several printers at once: one printer alone, and a list of 50 written
# one after another ([LAN_SEND] Parallel=1) and side by side (Parallel=64),
# each printer reading about 1 MB/s, a 600 KB file; from the confirmation
# to the POWER-lamp message, with Romsmith's processor time over the same
# stretch. Last, an Update-mode list of ten simulated printers, one by one
# and side by side (Parallel=10, the version reads all at once too), against
# a Rewrite All run to the same list: the time per printer, and what the
# version reads around each write add to it.
# Not part of scripts/test.sh.
#   scripts/bench-romsmith.sh [BUILD_DIR]      (default build/x86_64, built first)
# Environment: BENCH_BYTES (default 4194304), SLOW_RATE (default 1000000),
# LIST_PRINTERS (default 20), LIST_BYTES (default 614400), LIST_RATE
# (default 1000000), FLEET_PRINTERS (default 50), FLEET_PARALLEL (default 64),
# UPDATE_PRINTERS (default 10).
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
base="${KIT_SIM_BASE:-127.0.0.}"
host="${base}2"
bytes=${BENCH_BYTES:-4194304}
slow_rate=${SLOW_RATE:-1000000}
work=$(mktemp -d /tmp/kit-bench.XXXXXX)
sink_pid=""
stop_sink() {
  if [ -n "$sink_pid" ]; then kill "$sink_pid" 2>/dev/null || true; wait "$sink_pid" 2>/dev/null || true; fi
  sink_pid=""
}
trap 'stop_sink; rm -rf "$work"' EXIT
# Waits for READY in a log written by a background process.
await_ready() {
  for _ in $(seq 100); do grep -q READY "$1" && return 0; sleep 0.1; done
  cat "$1" >&2
  return 1
}
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

# A LAN list of printers, written in one automatic run.
list_printers=${LIST_PRINTERS:-20}
list_bytes=${LIST_BYTES:-614400}
list_rate=${LIST_RATE:-1000000}
hosts=()
for i in $(seq 2 $((list_printers + 1))); do hosts+=("${base}$i"); done
list_folder="$work/RomsmithList"
wine "$operator" prepare "$(winepath -w "$list_folder")" "$build/romsmith/Romsmith.exe" "$build/lanquay/lanquay.dll" \
  PowerOn LAN English "${hosts[@]}"
python3 "$root/tools/make_firmware.py" "$list_folder/list.hex" "$list_bytes"
rm -rf "$list_folder/Log"
say "A LAN list of $list_printers printers reading about $list_rate bytes/s, $list_bytes bytes each, loopback"
python3 -u "$root/tools/bench_sink.py" "$(IFS=,; echo "${hosts[*]}")" --ports 9100,9101 --expect "$list_bytes" \
  --rate "$list_rate" --report >"$work/list-sink.txt" 2>&1 &
sink_pid=$!
await_ready "$work/list-sink.txt"
wine "$operator" write "$(winepath -w "$list_folder")" "$(winepath -w "$list_folder/list.hex")" >"$work/list-operator.txt"
wine "$build/lanquay/bench_lanquay.exe" list "$list_bytes" "${hosts[@]}" | tr -d '\r' >"$work/list-plain.txt"
for _ in $(seq 100); do
  [ "$(grep -c '^CONN' "$work/list-sink.txt")" -ge $((2 * list_printers)) ] && break
  sleep 0.1
done
stop_sink
python3 - "$list_printers" "$list_bytes" "$work/list-sink.txt" "$work/list-operator.txt" "$work/list-plain.txt" >&3 <<'PY'
import re, sys
n, total = int(sys.argv[1]), int(sys.argv[2])
sink, operator, plain = (open(p).read() for p in sys.argv[3:6])
conns = [l.split() for l in sink.splitlines() if l.startswith("CONN ")]
romsmith_moves = [float(c[3]) for c in conns if c[1] == "9100" and int(c[2]) == total]
plain_moves = [float(c[3]) for c in conns if c[1] == "9101" and int(c[2]) == total]
code = re.search(r"exit code: (\d+)", operator).group(1)
writing = float(re.search(r"confirmed to POWER lamp ([\d.]+) s", operator).group(1))
plain_total = float(re.search(r"total ([\d.]+) s", plain).group(1))
if len(romsmith_moves) != n or len(plain_moves) != n:
    sys.exit("list: %d of %d Romsmith transfers and %d plain ones arrived whole (exit code %s)"
             % (len(romsmith_moves), n, len(plain_moves), code))
print("list Romsmith %7.2f s (confirmation to POWER lamp, exit code %s)  plain sender %7.2f s  ratio %.2f"
      % (writing, code, plain_total, plain_total / writing))
print("list beyond the transfer per printer: Romsmith %.3f s, plain sender %.3f s"
      % ((writing - sum(romsmith_moves)) / n, (plain_total - sum(plain_moves)) / n))
PY

# Get Version and Reset Printer over the same addresses, simulated printers.
command_folder="$work/RomsmithCommand"
wine "$operator" prepare "$(winepath -w "$command_folder")" "$build/romsmith/Romsmith.exe" \
  "$build/lanquay/lanquay.dll" Online LAN English "${hosts[@]}"
rm -rf "$command_folder/Log"
sim_args=()
for h in "${hosts[@]}"; do sim_args+=(--tcp "$h"); done
python3 -u "$root/tools/printer_sim.py" --control "${base}1:19900" "${sim_args[@]}" >"$work/sim.txt" 2>&1 &
sink_pid=$!
await_ready "$work/sim.txt"
for command in version reset; do
  wine "$operator" command "$(winepath -w "$command_folder")" "$command" | tr -d '\r' >"$work/command.txt" || true
  seconds=$(sed -n 's/^timing: confirmed to result \([0-9.]*\) s/\1/p' "$work/command.txt")
  case $command in
    version) say "Get Version (the selected printer of the list): ${seconds:-failed} s" ;;
    reset) say "Reset Printer over the list of $list_printers: ${seconds:-failed} s" ;;
  esac
  grep '^Romsmith reported' "$work/command.txt" >&3 || true
done
stop_sink

# Several printers at once: each run is one automatic Romsmith write to a
# list of sinks; prints its time, its processor time and how many transfers
# arrived whole.
fleet_printers=${FLEET_PRINTERS:-50}
fleet_parallel=${FLEET_PARALLEL:-64}
fleet_run() {
  local label=$1 printers=$2 parallel=$3 folder="$work/Fleet-$1"
  local hosts=()
  for i in $(seq 2 $((printers + 1))); do hosts+=("${base}$i"); done
  ROMSMITH_PARALLEL=$parallel wine "$operator" prepare "$(winepath -w "$folder")" "$build/romsmith/Romsmith.exe" \
    "$build/lanquay/lanquay.dll" PowerOn LAN English "${hosts[@]}"
  python3 "$root/tools/make_firmware.py" "$folder/fleet.hex" "$list_bytes"
  rm -rf "$folder/Log"
  python3 -u "$root/tools/bench_sink.py" "$(IFS=,; echo "${hosts[*]}")" --ports 9100 --expect "$list_bytes" \
    --rate "$list_rate" --report >"$work/fleet-sink.txt" 2>&1 &
  sink_pid=$!
  await_ready "$work/fleet-sink.txt"
  wine "$operator" write "$(winepath -w "$folder")" "$(winepath -w "$folder/fleet.hex")" | tr -d '\r' \
    >"$work/fleet-operator.txt" || true
  # A sink reports a connection once it has seen the close; give the last
  # ones a moment.
  for _ in $(seq 50); do [ "$(grep -c '^CONN' "$work/fleet-sink.txt")" -ge "$printers" ] && break; sleep 0.1; done
  stop_sink
  python3 - "$label" "$printers" "$parallel" "$list_bytes" "$work/fleet-sink.txt" "$work/fleet-operator.txt" \
    >>"$work/fleet.txt" <<'PY'
import re, sys
label, n, parallel, total = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
sink, operator = open(sys.argv[5]).read(), open(sys.argv[6]).read()
whole = sum(1 for l in sink.splitlines() if l.startswith("CONN ") and int(l.split()[2]) == total)
writing = float(re.search(r"confirmed to POWER lamp ([\d.]+) s", operator).group(1))
cpu = re.search(r"processor: ([\d.]+) s", operator)
code = re.search(r"exit code: (\d+)", operator).group(1)
print("%s %.3f" % (label, writing))
print("  %-22s %3d printer(s), Parallel=%-3s %7.2f s confirmation to POWER lamp, processor %s s, %d of %d whole, "
      "exit code %s" % (label, n, parallel, writing, cpu.group(1) if cpu else "?", whole, n, code))
PY
}
say "Several printers at once: $fleet_printers printers reading about $list_rate bytes/s, $list_bytes bytes each"
: >"$work/fleet.txt"
fleet_run alone 1 1
fleet_run one-by-one "$fleet_printers" 1
fleet_run side-by-side "$fleet_printers" "$fleet_parallel"
grep '^  ' "$work/fleet.txt" >&3
python3 - "$work/fleet.txt" >&3 <<'PY'
import sys
t = dict(l.split() for l in open(sys.argv[1]) if not l.startswith(" "))
print("  side by side / alone: %.2f (goal at most 1.2); one after another / side by side: %.1f"
      % (float(t["side-by-side"]) / float(t["alone"]), float(t["one-by-one"]) / float(t["side-by-side"])))
PY

# Update mode, one by one: the version reads before each write and after
# the POWER lamp, against a Rewrite All run to the same simulated list.
update_printers=${UPDATE_PRINTERS:-10}
hosts=()
for i in $(seq 2 $((update_printers + 1))); do hosts+=("${base}$i"); done
sim_args=()
for h in "${hosts[@]}"; do sim_args+=(--tcp "$h"); done
python3 -u "$root/tools/printer_sim.py" --control "${base}1:19900" "${sim_args[@]}" >"$work/sim.txt" 2>&1 &
sink_pid=$!
await_ready "$work/sim.txt"
say "Update mode, a list of $update_printers simulated printers one by one, $list_bytes bytes each"
for run in PowerOn Online Online:$update_printers; do
  type=${run%%:*}
  parallel=""
  [ "$run" != "$type" ] && parallel=${run#*:}
  folder="$work/Update-$type$parallel"
  ROMSMITH_PARALLEL=$parallel wine "$operator" prepare "$(winepath -w "$folder")" "$build/romsmith/Romsmith.exe" "$build/lanquay/lanquay.dll" \
    $type LAN English "${hosts[@]}"
  file="$folder/update.hex"
  [ $type = Online ] && file="$folder/update.hx1"
  python3 "$root/tools/make_firmware.py" "$file" "$list_bytes"
  rm -rf "$folder/Log"
  started=$(date +%s.%N)
  wine "$operator" write "$(winepath -w "$folder")" "$(winepath -w "$file")" | tr -d '\r' >"$work/update.txt" || true
  ended=$(date +%s.%N)
  python3 - "$type" "$update_printers" "$started" "$ended" "$work/update.txt" "$parallel" >&3 <<'PY'
import re, sys
kind, n, started, ended, operator = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), float(sys.argv[4]), open(sys.argv[5]).read()
writing = float(re.search(r"confirmed to POWER lamp ([\d.]+) s", operator).group(1))
code = re.search(r"exit code: (\d+)", operator).group(1)
name = ("Update mode" if kind == "Online" else "Rewrite All") + (", Parallel=" + sys.argv[6] if sys.argv[6] else "")
print("  %-26s confirmation to POWER lamp %.3f s per printer; the whole run, reads after the POWER lamp "
      "included, %.3f s per printer (exit code %s)" % (name, writing / n, (ended - started) / n, code))
PY
done
stop_sink

