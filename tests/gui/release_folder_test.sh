#!/bin/bash
# The release script and its check, on x86_64 builds: this test build (with
# the seams) is refused; a build beside it configured as a customer's would
# be gives a folder whose Romsmith starts with no settings file, shows its
# start-up notice and ends with 0; the check fails a folder or zip that
# lacks one of the deliverables, and a file without ASLR, DEP, high-entropy
# addresses or stack protection.
#   release_folder_test.sh BUILD_DIR OPERATOR_EXE
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
operator=$2
out="$build/release-check"
rm -rf "$out"
failed=0
fail() { echo "FAIL: $*"; failed=1; }

bash "$root/scripts/release.sh" "$build" "$out/refused" >/dev/null 2>&1 &&
  fail "release.sh made a folder from a build with the test seams"
[ -e "$out/refused" ] && [ -n "$(ls -A "$out/refused")" ] && fail "the refused build left files in $out/refused"

bash "$root/scripts/release.sh" "$build-release" "$out"
folder=$(ls -d "$out"/Romsmith-*-x86_64)
name=$(basename "$folder")
wine "$operator" start "$(winepath -w "$folder")" || fail "Romsmith did not start from the release folder"

# Each deliverable missing from the folder, then from the zip.
for file in Romsmith.exe Tagsmith.exe lanquay.dll Readme.txt; do
  broken="$out/broken/$name"
  rm -rf "$out/broken" && mkdir -p "$out/broken" && cp -r "$folder" "$broken"
  (cd "$out/broken" && zip -qr "$name.zip" "$name")
  rm "$broken/$file"
  bash "$root/scripts/release-check.sh" "$broken" "$out/broken/$name.zip" >/dev/null &&
    fail "the check passed a folder without $file"
  cp "$folder/$file" "$broken/"
  (cd "$out/broken" && zip -qd "$name.zip" "$name/$file" >/dev/null)
  bash "$root/scripts/release-check.sh" "$broken" "$out/broken/$name.zip" >/dev/null &&
    fail "the check passed a zip without $file"
done

# A shipped file without the loader's defences or without stack protection.
for fault in DYNAMIC_BASE NX_COMPAT HIGH_ENTROPY_VA stack-protection; do
  broken="$out/broken/$name"
  rm -rf "$out/broken" && mkdir -p "$out/broken" && cp -r "$folder" "$broken"
  python3 - "$broken/lanquay.dll" "$fault" <<'EOF'
import struct, sys
path, fault = sys.argv[1], sys.argv[2]
data = bytearray(open(path, 'rb').read())
bits = {'HIGH_ENTROPY_VA': 0x20, 'DYNAMIC_BASE': 0x40, 'NX_COMPAT': 0x100}
if fault in bits:
    at = struct.unpack_from('<I', data, 0x3C)[0] + 24 + 70  # the optional header's DllCharacteristics
    struct.pack_into('<H', data, at, struct.unpack_from('<H', data, at)[0] & ~bits[fault])
else:
    data = data.replace(b'stack smashing detected', b'stack_smashing_detected')
open(path, 'wb').write(data)
EOF
  (cd "$out/broken" && zip -qr "$name.zip" "$name")
  bash "$root/scripts/release-check.sh" "$broken" "$out/broken/$name.zip" >/dev/null &&
    fail "the check passed a lanquay.dll without $fault"
done
exit $failed
