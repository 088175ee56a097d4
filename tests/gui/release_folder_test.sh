#!/bin/bash
# The release folder made from this (x86_64) build runs: Romsmith starts
# from it with no settings file, shows its start-up notice and ends with 0.
#   release_folder_test.sh BUILD_DIR OPERATOR_EXE
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$1
operator=$2
out="$build/release-check"
bash "$root/scripts/release.sh" "$build" "$out"
folder=$(ls -d "$out"/Romsmith-*-x86_64)
wine "$operator" start "$(winepath -w "$folder")"
