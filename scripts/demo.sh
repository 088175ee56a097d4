#!/bin/bash
# The kit's main job, shown end to end until the firmware writer exists:
# builds the x86_64 programs, makes a sample firmware file, starts the
# printer simulator on COM5 of a fresh Wine session, sends the file with
# fwsend_demo and checks that the printer received it byte for byte.
#   bash scripts/demo.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

if [ "${1:-}" = "--in-session" ]; then
  work=$2
  sample=$3
  state="$work/sim"
  trap '"$root/tools/sim_fixture.sh" stop "$state"' EXIT
  "$root/tools/sim_fixture.sh" start "$state"
  set +e
  wine "$root/build/x86_64/tools/fwsend_demo.exe" "$(winepath -w "$sample")" COM5
  demo_rc=$?
  set -e
  python3 - "$sample" "$demo_rc" <<'PY'
import os, socket, sys, zlib
sample, rc = sys.argv[1], int(sys.argv[2])
data = open(sample, "rb").read()
host = os.environ.get("KIT_SIM_BASE", "127.0.0.") + "1"
with socket.create_connection((host, 19900), timeout=30) as s:
    f = s.makefile("rwb", buffering=0)
    def ask(line):
        f.write((line + "\n").encode())
        return f.readline().decode().strip()
    # The last bytes may still be in the terminal's buffer.
    count = int(ask("com wait_count %d 10000" % len(data)).split()[1])
    _, got_count, got_crc = ask("com received_crc").split()
    received = bytes.fromhex(ask("com received")[3:])
same = received == data
print("printer received %d bytes (file %d bytes); crc32 %s (file %08x); byte for byte %s"
      % (count, len(data), got_crc, zlib.crc32(data) & 0xFFFFFFFF, "equal" if same else "DIFFERENT"))
print("demo result code: %d" % rc)
sys.exit(0 if same and rc == 0 else 1)
PY
  exit $?
fi

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build/x86_64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
  -DKIT_WERROR=ON >/dev/null
cmake --build "$root/build/x86_64" -j2 --target fwsend_demo

work=$(mktemp -d /tmp/kit-demo.XXXXXX)
trap 'rm -rf "$work"' EXIT
sample="$work/sample.hex"
# 300 KB of deterministic bytes; ESC and GS never occur, so the block holds
# no printer command.
python3 - "$sample" <<'PY'
import sys
out = bytearray()
x = 12345
while len(out) < 300 * 1024:
    x = (x * 1103515245 + 12345) & 0xFFFFFFFF
    b = (x >> 16) & 0xFF
    out.append(0x20 if b in (0x1B, 0x1D) else b)
open(sys.argv[1], "wb").write(out)
PY
echo "sample firmware file: $sample ($(stat -c %s "$sample") bytes)"
bash "$root/scripts/wine-session.sh" bash "$root/scripts/demo.sh" --in-session "$work" "$sample"
