#!/bin/bash
# Makes the shipping folder and its zip from a Windows build:
#   bash scripts/release.sh [BUILD_DIR [OUT_DIR]]
# BUILD_DIR defaults to build/i686, the shipping build (configured and built
# here: Release, warnings as errors). The folder holds Romsmith.exe,
# lanquay.dll, Tagsmith.exe when the tree builds it, and the operator's
# Readme.txt (English and Japanese, UTF-8 with a byte-order mark and CR LF,
# so that Notepad on a Japanese Windows shows it right). The programs are
# checked by their PE headers and lanquay by its export table, since 32-bit
# programs cannot run here. Made from the x86_64 build, the same folder runs
# under Wine (the test run starts Romsmith from it).
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
targets="Romsmith lanquay"
cmake --build "$build" --target help | grep -q '\.\.\. Tagsmith$' && targets="$targets Tagsmith"
# shellcheck disable=SC2086
cmake --build "$build" -j2 --target $targets >/dev/null

if grep -q 'toolchain-mingw-i686' "$build/CMakeCache.txt"; then
  arch=i686 format=pei-i386 objdump=i686-w64-mingw32-objdump
else
  arch=x86_64 format=pei-x86-64 objdump=x86_64-w64-mingw32-objdump
fi
version=$(sed -n 's/.*ROMSMITH_VERSION_TEXT "\(.*\)"/\1/p' "$root/romsmith/version.h")
name="Romsmith-$version-$arch"
folder="$out/$name"
rm -rf "$folder" "$out/$name.zip"
mkdir -p "$folder"
cp "$build/romsmith/Romsmith.exe" "$build/lanquay/lanquay.dll" "$folder/"
[ -f "$build/tagsmith/Tagsmith.exe" ] && cp "$build/tagsmith/Tagsmith.exe" "$folder/"
printf '\xef\xbb\xbf' >"$folder/Readme.txt"
sed 's/$/\r/' "$root/docs/operator/Readme.txt" >>"$folder/Readme.txt"

failed=0
fail() { echo "FAIL: $*"; failed=1; }
for file in "$folder"/*.exe "$folder"/*.dll; do
  base=$(basename "$file")
  head=$("$objdump" -p "$file")
  grep -q "file format $format" <<<"$head" || fail "$base is not $format"
  # No mingw runtime DLL may be needed on the customer's PC.
  needs=$(sed -n 's/.*DLL Name: //p' <<<"$head" | tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
  grep -Eq 'libgcc|libstdc|libwinpthread' <<<"$needs" && fail "$base needs the mingw runtime: $needs"
  case "$base" in
    *.exe)
      grep -q 'Subsystem.*(Windows GUI)' <<<"$head" || fail "$base is not a Windows GUI program"
      grep -aq "processorArchitecture=\"$([ $arch = i686 ] && echo x86 || echo amd64)\"" "$file" ||
        fail "$base carries no manifest for $arch"
      # The shipping build never reads the tests' stand-in variable.
      if [ $arch = i686 ] && grep -aq 'R.O.M.S.M.I.T.H._.T.E.S.T' "$file"; then fail "$base has the test seams"; fi
      ;;
    *.dll)
      grep -Eq '^[[:space:]]*DLL[[:space:]]*$' <<<"$head" || fail "$base is not a DLL"
      ;;
  esac
done
bash "$root/tests/win/lanquay_exports_check.sh" "$objdump" "$folder/lanquay.dll" || failed=1
[ $failed -eq 0 ] || exit 1
(cd "$out" && zip -qr "$name.zip" "$name")
echo "release folder: $folder"
ls -l "$folder" | sed 1d
echo "zip: $out/$name.zip"
