#!/bin/bash
# The interactive demo's program folder, prepared by scripts/demo.sh from
# this build, holds both programs (Romsmith's Tagsmith button needs
# Tagsmith.exe beside it), lanquay, the settings and both samples.
#   demo_folder_test.sh BUILD_DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out="$1/demo-check"
rm -rf "$out"
KIT_DEMO_BUILD=$1 bash "$root/scripts/demo.sh" --prepare-folder "$out" >/dev/null
failed=0
for file in Romsmith.exe Tagsmith.exe lanquay.dll Romsmith.ini sample.hex sample.hx1; do
  [ -s "$out/Romsmith/$file" ] || { echo "FAIL: the demo's folder has no $file"; failed=1; }
done
exit $failed
