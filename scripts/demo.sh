#!/bin/bash
# The kit's main job end to end: builds Romsmith, prepares a program folder,
# starts the printer simulator in a fresh Wine session and runs Romsmith on a
# sample firmware file for the printer on COM5, as a technician's unattended
# run (the file on Romsmith's command line). A driver answers Romsmith's
# windows as the operator would: the confirmation, the POWER lamp message
# (with the Enter key) and the end of writing. Prints what the printer
# received, Romsmith's result, where the run report is and its text, and
# where the pictures and logs are; Wine's own output goes to the log only.
# The interactive run's LAN list of five is written four at a time
# ([LAN_SEND] Parallel=4).
#   bash scripts/demo.sh                 the demo
#   bash scripts/demo.sh --interactive   Romsmith on the simulated printers,
#                                        for a person at a desktop (DISPLAY)
#   bash scripts/demo.sh --prepare-folder OUT
#                                        only the program folder OUT/Romsmith
#                                        of the interactive run, from a build
#                                        made before, inside a Wine session
#                                        (the test run checks it)
# Output folder: build/demo (or KIT_DEMO_DIR); build: build/x86_64 (or
# KIT_DEMO_BUILD).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KIT_DEMO_BUILD:-$root/build/x86_64}"
base="${KIT_SIM_BASE:-127.0.0.}"

# The program folder as shipped (both programs and lanquay), with settings
# for COM5 and the LAN list of simulated printers (three; five written four
# at a time in the interactive run), and the samples.
prepare_folder() {
  local mode=$1 folder=$2 parallel="" hosts=("${base}2" "${base}3" "${base}4")
  [ "$mode" = interactive ] && parallel=4 && hosts+=("${base}5" "${base}6")
  ROMSMITH_PARALLEL=$parallel wine "$build/tools/romsmith_operator.exe" prepare "$(winepath -w "$folder")" \
    "$build/romsmith/Romsmith.exe" "$build/lanquay/lanquay.dll" PowerOn COM English "${hosts[@]}"
  cp "$build/tagsmith/Tagsmith.exe" "$folder/"
  python3 "$root/tools/make_firmware.py" "$folder/sample.hex" 614400
  if [ "$mode" = interactive ]; then
    python3 "$root/tools/make_firmware.py" "$folder/sample.hx1" 614400 KM-510 "Ver 2.02 update"
  fi
}

if [ "${1:-}" = "--prepare-folder" ]; then
  mkdir -p "$2"
  prepare_folder interactive "$2/Romsmith"
  exit 0
fi

if [ "${1:-}" = "--in-session" ]; then
  mode=$2
  out=$3
  say() { echo "$@" >&3; }
  trap '"$root/tools/sim_fixture.sh" stop "$out/sim"' EXIT
  "$root/tools/sim_fixture.sh" start "$out/sim"
  operator="$build/tools/romsmith_operator.exe"
  folder="$out/Romsmith"
  sample="$folder/sample.hex"
  prepare_folder "$mode" "$folder"
  if [ "$mode" = interactive ]; then
    say "Romsmith is open on this desktop. Simulated printers: COM5 and the LAN list"
    say "(${base}2-6, written four at a time: [LAN_SEND] Parallel=4). Sample files: $folder/sample.hex (Rewrite All) and sample.hx1 (Update)."
    say "Close Romsmith (Exit) to end."
    wine "$folder/Romsmith.exe" || true
    python3 - "$base" >&3 <<'PY'
import socket, sys
base = sys.argv[1]
with socket.create_connection((base + "1", 19900), timeout=30) as s:
    f = s.makefile("rwb", buffering=0)
    for target in ["com"] + [base + str(n) for n in (2, 3, 4, 5, 6)]:
        f.write((target + " received_crc\n").encode())
        _, count, crc = f.readline().decode().split()
        print("printer %-15s received %8s bytes (crc32 %s)" % (target, count, crc))
PY
    exit 0
  fi
  pictures="$out/pictures"
  mkdir -p "$pictures"
  say "Running: Romsmith.exe sample.hex ($(stat -c %s "$sample") bytes, Rewrite All area, COM5), the driver answering"
  set +e
  wine "$operator" write "$(winepath -w "$folder")" "$(winepath -w "$sample")" "$(winepath -w "$pictures")" \
    >"$out/operator.txt"
  rc=$?
  set -e
  say "$(sed 's/\r$//' "$out/operator.txt")"
  for bmp in "$pictures"/*.bmp; do
    [ -f "$bmp" ] && convert "$bmp" -strip "${bmp%.bmp}.png" && rm -f "$bmp"
  done
  set +e
  python3 - "$sample" "$rc" "$base" >&3 <<'PY'
import sys, zlib
import socket
sample, rc, base = sys.argv[1], int(sys.argv[2]), sys.argv[3]
data = open(sample, "rb").read()
with socket.create_connection((base + "1", 19900), timeout=30) as s:
    f = s.makefile("rwb", buffering=0)
    def ask(line):
        f.write((line + "\n").encode())
        return f.readline().decode().strip()
    count = int(ask("com wait_count %d 10000" % len(data)).split()[1])
    _, got_count, got_crc = ask("com received_crc").split()
    received = bytes.fromhex(ask("com received")[3:])
same = received == data
print("printer on COM5 received %d bytes (file %d bytes); crc32 %s (file %08x); byte for byte %s"
      % (count, len(data), got_crc, zlib.crc32(data) & 0xFFFFFFFF, "equal" if same else "DIFFERENT"))
print("result: %d (%s)" % (rc, "written and confirmed" if rc == 0 and same else "FAILED"))
sys.exit(0 if same and rc == 0 else 1)
PY
  checked=$?
  set -e
  # The run report lives in the session's prefix, which goes with it: a copy
  # stays beside the pictures.
  report=$(find "$WINEPREFIX/drive_c/users" -path '*/Romsmith/Reports/Write-*.txt' 2>/dev/null | sort | tail -n 1)
  if [ -n "$report" ]; then
    cp "$report" "${report%.txt}.json" "$out/"
    say "Run report: %LOCALAPPDATA%\\Romsmith\\Reports\\$(basename "$report") (and .json) in the session,"
    say "copied to $out/$(basename "$report"):"
    say "$(sed '1s/^\xEF\xBB\xBF//; s/\r$//' "$report")"
  else
    say "no run report was found"
  fi
  exit $checked
fi

mode=demo
if [ "${1:-}" = "--interactive" ]; then
  mode=interactive
  [ -n "${DISPLAY:-}" ] || { echo "--interactive needs a desktop: DISPLAY is not set" >&2; exit 2; }
fi
out="${KIT_DEMO_DIR:-$root/build/demo}"
rm -rf "$out"
mkdir -p "$out"
log="$out/demo.log"
echo "Installing what is missing and building Romsmith and Tagsmith (log: $log)"
bash "$root/scripts/install-deps.sh" >>"$log" 2>&1
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
  -DKIT_WERROR=ON >>"$log" 2>&1
cmake --build "$build" -j2 --target Romsmith Tagsmith lanquay romsmith_operator >>"$log" 2>&1 || {
  echo "build failed; see $log" >&2
  exit 1
}
echo "Starting a fresh Wine session with the printer simulator"
[ "$mode" = interactive ] && export KIT_WINE_DISPLAY=1
set +e
bash "$root/scripts/wine-session.sh" bash "$root/scripts/demo.sh" --in-session "$mode" "$out" 3>&1 >>"$log" 2>&1
rc=$?
set -e
echo "Program folder (with Romsmith's debug log in Log\\): $out/Romsmith"
[ "$mode" = demo ] && echo "Screenshots: $out/pictures"
echo "Wine and simulator log: $log"
exit $rc
