#!/bin/bash
# Checks a shipping folder and its zip as scripts/release.sh made them:
#   bash scripts/release-check.sh FOLDER ZIP
# The programs are checked by their PE headers and lanquay by its export
# table, since 32-bit programs cannot run here. Every file must be there,
# in the folder and in the zip; no mingw runtime DLL may be needed on the
# customer's PC; no file may carry the tests' seams; and the import tables
# may name only the system's known DLLs: Romsmith runs elevated from
# whatever folder it was unzipped into, where any other DLL name would be
# looked for first. Every file has ASLR, DEP (and high-entropy addresses on
# x86_64) and stack protection. Exits 1 on the first run with a failure,
# naming each.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
folder=$1
zipfile=$2
name=$(basename "$folder")
case "$name" in
  *-i686) arch=i686 format=pei-i386 objdump=i686-w64-mingw32-objdump manifest=x86 pe_flags="DYNAMIC_BASE NX_COMPAT" ;;
  *-x86_64) arch=x86_64 format=pei-x86-64 objdump=x86_64-w64-mingw32-objdump manifest=amd64
    pe_flags="DYNAMIC_BASE NX_COMPAT HIGH_ENTROPY_VA" ;;
  *) echo "FAIL: $name names no architecture"; exit 1 ;;
esac
deliverables="Romsmith.exe Tagsmith.exe lanquay.dll Readme.txt"
# COMCTL32 comes through the programs' manifests (version 6, from WinSxS).
known_dlls=$(printf '%s\n' kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll shlwapi.dll comdlg32.dll \
  setupapi.dll ws2_32.dll msvcrt.dll comctl32.dll)

failed=0
fail() { echo "FAIL: $*"; failed=1; }

zipped=$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zipfile" 2>&1) ||
  fail "$zipfile is no zip: $zipped"
for file in $deliverables; do
  [ -f "$folder/$file" ] || fail "$file is missing from the folder"
  grep -qx "$name/$file" <<<"$zipped" || fail "$file is missing from the zip"
done

for file in "$folder"/*.exe "$folder"/*.dll; do
  [ -f "$file" ] || continue
  base=$(basename "$file")
  head=$("$objdump" -p "$file")
  grep -q "file format $format" <<<"$head" || fail "$base is not $format"
  needs=$(sed -n 's/.*DLL Name: //p' <<<"$head" | tr 'A-Z' 'a-z' | sort -u)
  for dll in $needs; do
    grep -qxF -- "$dll" <<<"$known_dlls" || fail "$base imports $dll, which is not one of the system's known DLLs"
  done
  # The loader's defences and stack protection: every shipped file runs in
  # the elevated program.
  flags=$(sed -n '/^DllCharacteristics/,/^[^[:space:]]/p' <<<"$head")
  for flag in $pe_flags; do
    grep -qw "$flag" <<<"$flags" || fail "$base lacks $flag in its DllCharacteristics"
  done
  grep -aq 'stack smashing detected' "$file" || fail "$base is built without stack protection"
  # The tests' stand-in variable is never read by a shipped file.
  grep -aq 'R.O.M.S.M.I.T.H._.T.E.S.T' "$file" && fail "$base has the test seams"
  case "$base" in
    *.exe)
      grep -q 'Subsystem.*(Windows GUI)' <<<"$head" || fail "$base is not a Windows GUI program"
      grep -aq "processorArchitecture=\"$manifest\"" "$file" || fail "$base carries no manifest for $arch"
      if grep -qx comctl32.dll <<<"$needs"; then
        grep -aq 'Microsoft.Windows.Common-Controls' "$file" ||
          fail "$base imports comctl32.dll without the common controls in its manifest"
      fi
      ;;
    *.dll)
      grep -Eq '^[[:space:]]*DLL[[:space:]]*$' <<<"$head" || fail "$base is not a DLL"
      ;;
  esac
done
# Dropped files reach the elevated Romsmith only through its message filter.
[ -f "$folder/Romsmith.exe" ] && ! grep -aq 'ChangeWindowMessageFilterEx' "$folder/Romsmith.exe" &&
  fail "Romsmith.exe does not open its message filter to dropped files"
# The operator is told, in both languages, to keep the folder where only
# administrators can write.
[ -f "$folder/Readme.txt" ] && [ "$(grep -c 'C:\\Program Files' "$folder/Readme.txt")" -lt 2 ] &&
  fail "Readme.txt does not say in both languages to keep the folder under Program Files"
[ -f "$folder/lanquay.dll" ] && { bash "$root/tests/win/lanquay_exports_check.sh" "$objdump" "$folder/lanquay.dll" || failed=1; }

# A library the code loads by a bare name is looked for in the program's
# folder first; the system's are loaded through LoadSystemLibrary.
bare=$(grep -rnE 'LoadLibrary(Ex)?[AW]?\([[:space:]]*L?"' "$root/core" "$root/romsmith" "$root/tagsmith" \
  "$root/lanquay" || true)
[ -z "$bare" ] || fail "a library is loaded by a bare name: $bare"
exit $failed
