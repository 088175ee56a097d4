#!/bin/bash
# The fault matrix: Romsmith's Start writing, Get Version and Reset Printer
# and Tagsmith's read and write of the serial number, each against every
# fault of the printer simulator on COM and on LAN, driven through the real
# windows in a fresh Wine session. Writes the table to docs/fault-matrix.md
# and exits non-zero when any cell is bad.
#   bash scripts/fault-matrix.sh           the whole matrix (about 15 minutes)
#   bash scripts/fault-matrix.sh --quick   the test run's subset (about a minute),
#                                          table in build/x86_64/fault-matrix-quick.md
#   bash scripts/fault-matrix.sh --faults drop,pause   the cells of those faults,
#                                          table in build/x86_64/fault-matrix-faults.md
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KIT_BUILD_DIR:-$root/build}/x86_64"

if [ "${1:-}" = "--in-session" ]; then
  shift
  trap '"$root/tools/sim_fixture.sh" stop "$build/fault-matrix-sim"' EXIT
  "$root/tools/sim_fixture.sh" start "$build/fault-matrix-sim"
  wine "$build/tools/fault_matrix.exe" "$@"
  exit $?
fi

table="$root/docs/fault-matrix.md"
args=()
if [ "${1:-}" = "--quick" ]; then
  table="$build/fault-matrix-quick.md"
  args=(--quick)
elif [ "${1:-}" = "--faults" ]; then
  table="$build/fault-matrix-faults.md"
  args=(--faults "$2")
fi
bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" -DKIT_WERROR=ON -DKIT_TEST_SEAMS=ON >/dev/null
cmake --build "$build" -j2 --target fault_matrix
cells="$build/fault-matrix-cells.md"
set +e
# Wine's own messages go to a log; each cell's line stays on the screen.
bash "$root/scripts/wine-session.sh" bash "$0" --in-session "${args[@]}" "$cells" 2>"$build/fault-matrix-wine.log"
rc=$?
set -e
{
  echo "# Fault matrix"
  echo
  echo "Each row is one printer operation, started from the program's window as an"
  echo "operator would (button, confirmation), against one fault of the printer"
  echo "simulator (\`tools/printer_sim.py\`) on the COM printer (COM5) or on a LAN"
  echo "printer on loopback. Columns: the first line of the message the operator"
  echo "was shown (or what the window showed instead), the last result code in"
  echo "the program's debug log, the time from the confirmation to that message,"
  echo "whether the window was idle and usable afterwards, whether every spooler"
  echo "printer was back on its port (fake spooler and port journal), and how the"
  echo "program ended after Exit. A cell is bad on a crash, on no message within"
  echo "the limit (300 s for a write, 90 s for a command), on a success shown for"
  echo "a write the printer did not receive whole, on a window left unusable, a"
  echo "printer left on \"FILE:\" or an unclean end. Faults: the firmware (32 KB)"
  echo "drop cuts the connection after half of the block, a command's after 4"
  echo "bytes; close_after takes the whole firmware (a command: its first read) and"
  echo "then closes its side; slow reads 8000 bytes a second; split sends a reply in"
  echo "three pieces 400 ms apart; pause stops reading for 90 s after its first read"
  echo "(a long flash erase); fin_reset reads 150 KB a second through a small window,"
  echo "takes a third of a 300 KB firmware (a command: nothing), then closes its side"
  echo "and resets the connection 50 ms later; chatty (a LAN device on the raw data"
  echo "port) sends one byte every 200 ms from the moment it accepts, unasked, and"
  echo "answers nothing; a stalled or pausing LAN printer is given 8 MB of"
  echo "firmware, more than the socket buffers hold. A stalled printer that is sent less than that is"
  echo "reported written once the close has waited its limit (8 s) for the printer"
  echo "to end the connection: the bytes wait in the buffers and arrive when it reads"
  echo "again. Failing such a write would also fail a sound printer that needs longer"
  echo "than the limit to empty the buffers, so it is left as it is."
  echo
  echo "Made by \`bash scripts/fault-matrix.sh\`; the test run checks a subset."
  echo
  tr -d '\r' <"$cells"
} >"$table"
echo "table: $table"
exit $rc
