#!/bin/bash
# A long run of each program in one session, to find what a run leaves
# behind: one Romsmith writes a 600 KB firmware file to a LAN list of three
# simulated printers 200 times in a row (the operator program answering,
# both closing messages confirmed, every printer checked to hold the file),
# then asks the COM printer for its version 200 times; a second Romsmith
# writes it 50 times to a list of 20 printers with [LAN_SEND] Parallel=16
# (its worker threads must all end with each run); one Tagsmith writes a
# new serial number and reads it back 200 times. Per 50 runs the operator
# records the time per run and the program's handles, threads, GDI and USER objects
# and private bytes (where Wine reports nothing, the nearest real figure;
# the table says which). The goal: the last 50 runs equal to the first 50 in
# handles and objects, private bytes within 1 MB, and no slower.
# Prints the tables and saves them in docs/soak.md. Not part of scripts/test.sh.
#   scripts/soak.sh [BUILD_DIR]      (default build/x86_64, built first)
# Environment: SOAK_WRITES, SOAK_VERSIONS, SOAK_SERIALS (runs of each,
# default 200), SOAK_PARALLEL_WRITES (default 50), SOAK_OUT (default
# docs/soak.md).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" != "--inside" ]; then
  build="${1:-$root/build/x86_64}"
  out="${SOAK_OUT:-$root/docs/soak.md}"
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" >/dev/null
  fi
  cmake --build "$build" -j2 --target Romsmith Tagsmith lanquay romsmith_operator tagsmith_operator >/dev/null
  log=$(mktemp /tmp/kit-soak.XXXXXX.log)
  tables=$(mktemp -d /tmp/kit-soak.XXXXXX)
  started=$(date +%s)
  # The two programs in two Wine sessions side by side (each with its own
  # prefix, display, simulator and COM5), so that the whole run takes about
  # as long as Tagsmith's part alone.
  for program in romsmith tagsmith; do
    bash "$root/scripts/wine-session.sh" bash "$0" --inside "$build" "$program" "$tables/$program.md" \
      >"$log.$program" 2>&1 &
  done
  rc=0
  for job in $(jobs -p); do wait "$job" || rc=$?; done
  minutes=$(( ($(date +%s) - started + 30) / 60 ))
  {
    echo "# Soak run"
    echo
    echo "Made by \`bash scripts/soak.sh\` on $(date -u '+%Y-%m-%d') ($(nproc) cores, load average" \
      "$(cut -d' ' -f1-3 /proc/loadavg) at the end, $minutes minutes, commit" \
      "$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)), under $(wine --version 2>/dev/null)."
    echo "Each program runs in one session of its own from start to exit, without the debug log (no \"Log\""
    echo "folder), against the printer simulator on loopback and COM5. A run is timed from the operator's"
    echo "click to the window idle again, with the check of what the printers hold. The figures are"
    echo "sampled after the last run of each block; the verdict compares the first block with the last."
    echo
    echo "Romsmith and Tagsmith ran at the same time in two Wine sessions, each with its own printer"
    echo "simulator; when Romsmith's part ends first, Tagsmith's last runs have the machine more to themselves."
    echo
    cat "$tables/romsmith.md" "$tables/tagsmith.md" 2>/dev/null || true
  } >"$out"
  cat "$out"
  if [ $rc -ne 0 ]; then
    echo "soak run: growth, slowing down or a failed run (exit $rc); logs: $log.romsmith, $log.tagsmith" >&2
    exit $rc
  fi
  rm -rf "$log" "$log.romsmith" "$log.tagsmith" "$tables"
  exit 0
fi
build=$2
program=$3
table=$4
work=$(mktemp -d /tmp/kit-soak.XXXXXX)
trap '"$root/tools/sim_fixture.sh" stop "$work/sim"; rm -rf "$work"' EXIT
# Twenty simulated printers for the list written side by side.
KIT_SIM_PRINTERS=20 "$root/tools/sim_fixture.sh" start "$work/sim"
host="${KIT_SIM_BASE:-127.0.0.}"
# Without a window manager, Wine waits up to 2 s for one each time it hides
# a managed window (the confirmation, the progress dialog, the boxes).
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
rc=0
if [ "$program" = romsmith ]; then
  folder="$work/Romsmith"
  wine "$build/tools/romsmith_operator.exe" prepare "$(winepath -w "$folder")" "$build/romsmith/Romsmith.exe" \
    "$build/lanquay/lanquay.dll" PowerOn LAN English "${host}2" "${host}3" "${host}4"
  python3 "$root/tools/make_firmware.py" "$folder/soak.hex" 614400
  # A growing debug log would hide a leak.
  rm -rf "$folder/Log"
  wine "$build/tools/romsmith_operator.exe" soak "$(winepath -w "$folder")" "$(winepath -w "$folder/soak.hex")" \
    "${SOAK_WRITES:-200}" "${SOAK_VERSIONS:-200}" >"$work/table.md" || rc=$?
  echo >>"$work/table.md"
  parallel_folder="$work/RomsmithParallel"
  hosts=()
  for i in $(seq 2 21); do hosts+=("${host}$i"); done
  ROMSMITH_PARALLEL=16 wine "$build/tools/romsmith_operator.exe" prepare "$(winepath -w "$parallel_folder")" \
    "$build/romsmith/Romsmith.exe" "$build/lanquay/lanquay.dll" PowerOn LAN English "${hosts[@]}"
  cp "$folder/soak.hex" "$parallel_folder/soak.hex"
  rm -rf "$parallel_folder/Log"
  ROMSMITH_PARALLEL=16 wine "$build/tools/romsmith_operator.exe" soak "$(winepath -w "$parallel_folder")" \
    "$(winepath -w "$parallel_folder/soak.hex")" "${SOAK_PARALLEL_WRITES:-50}" 0 >>"$work/table.md" || rc=$?
  echo >>"$work/table.md"
else
  # Tagsmith's folder has no "Log" folder either.
  wine "$build/tools/tagsmith_operator.exe" soak "$(winepath -w "$work/Tagsmith")" "$build/tagsmith/Tagsmith.exe" \
    "$build/lanquay/lanquay.dll" "${SOAK_SERIALS:-200}" >"$work/table.md" || rc=$?
fi
sed 's/\r$//' "$work/table.md" >"$table"
exit $rc
