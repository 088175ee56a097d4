#!/bin/bash
# The exit codes of romsmith/exit_codes.h are the ones the README's table and
# both languages of the operator's Readme list, and neither document promises
# more than the program does: a hidden start is no plain "ends with 0", and
# code 5 is not "lanquay.dll is missing" alone (SxJcp32.dll stands in).
#   exit_codes_documented.sh SOURCE_DIR
set -euo pipefail
root=$1
fail() { echo "FAIL: $*"; exit 1; }

header=$(sed -n 's/^constexpr int kExit[A-Za-z]* = \([0-9]*\);.*/\1/p' "$root/romsmith/exit_codes.h" | sort -n | tr '\n' ' ')
[ -n "$header" ] || fail "no exit codes in exit_codes.h"
readme=$(sed -n 's/^| \([0-9]\) | .*/\1/p' "$root/README.md" | sort -n | tr '\n' ' ')
[ "$readme" = "$header" ] || fail "README lists exit codes '$readme', exit_codes.h has '$header'"

operator="$root/docs/operator/Readme.txt"
for section in '[English]' '[日本語]'; do
  codes=$(awk -v s="$section" 'index($0, s) == 1 {on=1; next} /^\[/ {on=0} on && /^     [0-9]  / {print $1}' "$operator" |
          sort -n | tr '\n' ' ')
  [ "$codes" = "$header" ] || fail "Readme.txt $section lists exit codes '$codes', exit_codes.h has '$header'"
  line5=$(awk -v s="$section" 'index($0, s) == 1 {on=1; next} /^\[/ {on=0} on && /^     5  / {print; getline; print}' "$operator")
  if grep -q 'lanquay.dll' <<<"$line5" && ! grep -q 'SxJcp32.dll' <<<"$line5"; then
    fail "Readme.txt $section: exit code 5 blames lanquay.dll alone: $line5"
  fi
done
! grep -qi 'always ends with 0' "$root/README.md" || fail "README still says a start without a command line always ends with 0"
grep -q 'SW_HIDE' "$root/README.md" || fail "README does not say what a hidden start does"
echo "exit codes documented: $header"
