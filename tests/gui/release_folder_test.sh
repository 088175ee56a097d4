#!/bin/bash
# The release script and its check, on x86_64 builds: this test build (with
# the seams) is refused; a build beside it configured as a customer's would
# be gives a folder whose Romsmith starts with no settings file, shows its
# start-up notice and ends with 0; the check fails a folder or zip that
# lacks one of the deliverables.
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
exit $failed
