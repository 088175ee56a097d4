#!/bin/bash
# Pictures of Romsmith for the README, taken from the real program under
# Xvfb: the main window in each port kind, the LAN list sorted by address,
# and the progress dialog while writing and at each closing message, in
# Japanese and in English. The operator program drives Romsmith; the
# pictures are cropped to the window.
#   bash scripts/screenshots.sh      -> docs/screenshots/*.png
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/x86_64"

if [ "${1:-}" = "--in-session" ]; then
  work=$2
  base="${KIT_SIM_BASE:-127.0.0.}"
  trap '"$root/tools/sim_fixture.sh" stop "$work/sim"' EXIT
  "$root/tools/sim_fixture.sh" start "$work/sim"
  operator="$build/tools/romsmith_operator.exe"
  # No window manager runs under Xvfb: Wine draws the title bars itself.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null
  for language in Japan English; do
    tag=$([ $language = Japan ] && echo ja || echo en)
    # A short path for the file-name box in the pictures: C:\Romsmith.
    folder="$WINEPREFIX/drive_c/Romsmith"
    pictures="$work/pictures-$tag"
    mkdir -p "$pictures"
    # The first printer reads slowly, so the dialog is seen half-way.
    python3 - "$base" <<'PY'
import socket, sys
base = sys.argv[1]
with socket.create_connection((base + "1", 19900), timeout=30) as s:
    f = s.makefile("rwb", buffering=0)
    for line in ["%s%d reset" % (base, n) for n in (2, 3, 4)] + [base + "2 set fault slow", base + "2 set arg 200000"]:
        f.write((line + "\n").encode())
        assert f.readline().startswith(b"OK")
PY
    wine "$operator" prepare "$(winepath -w "$folder")" "$build/romsmith/Romsmith.exe" \
      "$build/lanquay/lanquay.dll" Online LAN $language "${base}2" "${base}3" "${base}4"
    python3 "$root/tools/make_firmware.py" "$folder/sample.hx1" 614400 KM-510 "Ver 2.02 update"
    wine "$operator" tour "$(winepath -w "$folder")" "$(winepath -w "$folder/sample.hx1")" "$(winepath -w "$pictures")"
    for bmp in "$pictures"/*.bmp; do
      name=$(basename "$bmp" .bmp)
      convert "$bmp" -strip "$root/docs/screenshots/${name}_$tag.png"
    done
  done
  exit 0
fi

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" -DKIT_WERROR=ON >/dev/null
cmake --build "$build" -j2 --target Romsmith lanquay romsmith_operator >/dev/null
work=$(mktemp -d /tmp/kit-shots.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$root/docs/screenshots"
bash "$root/scripts/wine-session.sh" bash "$0" --in-session "$work" >"$work/session.log" 2>&1 || {
  tail -20 "$work/session.log" >&2
  exit 1
}
ls -l "$root/docs/screenshots"
