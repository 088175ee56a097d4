#!/bin/bash
# Checks that lanquay.dll exports exactly the 21 entry points at their
# ordinals with undecorated names (no @N stdcall suffix):
#   lanquay_exports_check.sh OBJDUMP DLL [OBJDUMP DLL ...]
# A DLL that does not exist is skipped (exit 77 when none was checked), so a
# clean tree that has not built the 32-bit library yet is not a failure.
set -uo pipefail
expected="1 LqStartup
2 LqCleanup
3 LqOpenPort
4 LqReadPort
5 LqWritePort_Async
6 LqClosePort
7 LqOpenStatus
8 LqCloseStatus
9 LqGetStatus
10 LqGetDeviceID
11 LqOpenSearch
12 LqCloseSearch
13 LqSendSearch
14 LqGetError
15 LqSendCancel
16 LqSetUseICMP
17 LqSendICMP_Async
18 LqRecvPort
19 LqWritePort
20 LqSendICMP
21 LqSendSearch_DHCPreq"
checked=0
failed=0
while [ $# -ge 2 ]; do
  objdump=$1 dll=$2
  shift 2
  if [ ! -f "$dll" ]; then
    echo "skip: $dll not built"
    continue
  fi
  dump=$("$objdump" -p "$dll") || { echo "FAIL: $objdump could not read $dll"; failed=1; continue; }
  base=$(sed -n 's/.*Ordinal Base \([0-9]*\).*/\1/p' <<<"$dump" | head -1)
  got=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
    sed -n "s/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p" |
    awk -v base="${base:-1}" '{ print $1 + base, $2 }' | sort -n)
  if [ "$got" != "$expected" ]; then
    echo "FAIL: $dll exports differ (got < > expected)"
    diff <(echo "$got") <(echo "$expected")
    failed=1
  else
    echo "ok: $dll exports 21 undecorated names at their ordinals"
  fi
  # Two names, one entry point.
  rvas=$(sed -n '/Export Address Table -- Ordinal Base/,/^$/p' <<<"$dump" |
    sed -n 's/.*+base\[ *\(9\|10\)\] \([0-9a-f]*\) Export RVA.*/\2/p' | sort -u | wc -l)
  if [ "$rvas" != 1 ]; then
    echo "FAIL: $dll ordinals 9 and 10 are not one entry point"
    failed=1
  fi
  checked=$((checked + 1))
done
[ $failed -eq 0 ] || exit 1
[ $checked -gt 0 ] || exit 77
exit 0
