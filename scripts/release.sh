#!/bin/bash
# Makes the shipping folder and its zip from a Windows build:
#   bash scripts/release.sh [BUILD_DIR [OUT_DIR]]
# BUILD_DIR defaults to build/i686, the shipping build (configured and built
# here: Release, warnings as errors). The folder holds Romsmith.exe,
# Tagsmith.exe, lanquay.dll and the operator's Readme.txt (English and
# Japanese, UTF-8 with a byte-order mark and CR LF, so that Notepad on a
# Japanese Windows shows it right); scripts/release-check.sh checks it and
# the zip. A build configured with the tests' seams (KIT_TEST_SEAMS) is
# refused. Made from an x86_64 build, the same folder runs under Wine (the
# test run starts Romsmith from it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${1:-$root/build/i686}"
out="${2:-$root/build/release}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  case "$build" in
    *x86_64*) toolchain=x86_64 type=Debug ;;
    *) toolchain=i686 type=Release ;;
  esac
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=$type \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$toolchain.cmake" -DKIT_WERROR=ON >/dev/null
fi
if grep -q '^KIT_TEST_SEAMS:BOOL=ON' "$build/CMakeCache.txt"; then
  echo "FAIL: $build is a test build (KIT_TEST_SEAMS=ON); a shipping folder never has the seams" >&2
  exit 1
fi
cmake --build "$build" -j2 --target Romsmith Tagsmith lanquay >/dev/null

if grep -q 'toolchain-mingw-i686' "$build/CMakeCache.txt"; then arch=i686; else arch=x86_64; fi
version=$(sed -n 's/.*ROMSMITH_VERSION_TEXT "\(.*\)"/\1/p' "$root/romsmith/version.h")
name="Romsmith-$version-$arch"
folder="$out/$name"
rm -rf "$folder" "$out/$name.zip"
mkdir -p "$folder"
cp "$build/romsmith/Romsmith.exe" "$build/tagsmith/Tagsmith.exe" "$build/lanquay/lanquay.dll" "$folder/"
printf '\xef\xbb\xbf' >"$folder/Readme.txt"
sed 's/$/\r/' "$root/docs/operator/Readme.txt" >>"$folder/Readme.txt"
(cd "$out" && zip -qr "$name.zip" "$name")
if ! bash "$root/scripts/release-check.sh" "$folder" "$out/$name.zip"; then
  rm -f "$out/$name.zip"
  exit 1
fi
echo "release folder: $folder"
ls -l "$folder" | sed 1d
echo "zip: $out/$name.zip"
