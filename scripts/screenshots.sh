#!/bin/bash
# Pictures of Romsmith and Tagsmith for the README, taken from the real
# programs under Xvfb: Romsmith's main window in each port kind, the LAN
# list sorted by address, and the progress dialog while writing and at each
# closing message, and the progress list of a LAN list written four at a
# time; Tagsmith's window after reading a serial number; in
# Japanese and in English. The operator programs drive them; the pictures
# are cropped to the window.
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
    # The first printer reads slowly, so the dialog is seen half-way; the
    # COM printer holds the serial number that Tagsmith reads.
    python3 - "$base" <<'PY'
import socket, sys
base = sys.argv[1]
with socket.create_connection((base + "1", 19900), timeout=30) as s:
    f = s.makefile("rwb", buffering=0)
    for line in ["%s%d reset" % (base, n) for n in (2, 3, 4)] + [base + "2 set fault slow", base + "2 set arg 200000"] + ["com reset", "com set serial 000001"]:
        f.write((line + "\n").encode())
        assert f.readline().startswith(b"OK")
PY
    wine "$operator" prepare "$(winepath -w "$folder")" "$build/romsmith/Romsmith.exe" \
      "$build/lanquay/lanquay.dll" Online LAN $language "${base}2" "${base}3" "${base}4"
    python3 "$root/tools/make_firmware.py" "$folder/sample.hx1" 614400 KM-510 "Ver 2.02 update"
    wine "$operator" tour "$(winepath -w "$folder")" "$(winepath -w "$folder/sample.hx1")" "$(winepath -w "$pictures")"
    # Tagsmith after a Get Serial Number, with a number typed for writing.
    wine "$build/tools/tagsmith_operator.exe" "$(winepath -w "$work/Tagsmith-$language")" \
      "$build/tagsmith/Tagsmith.exe" "$build/lanquay/lanquay.dll" $language "$(winepath -w "$pictures/tagsmith.bmp")"
    # A LAN list of five written four at a time ([LAN_SEND] Parallel=4), in
    # an automatic run: the progress list half-way and at the POWER lamp.
    python3 - "$base" <<'PY'
import socket, sys
base = sys.argv[1]
with socket.create_connection((base + "1", 19900), timeout=30) as s:
    f = s.makefile("rwb", buffering=0)
    lines = ["%s%d reset" % (base, n) for n in (2, 3, 4, 5, 6)]
    lines += [base + "2 set fault slow", base + "2 set arg 150000", base + "4 set fault slow", base + "4 set arg 400000"]
    for line in lines:
        f.write((line + "\n").encode())
        assert f.readline().startswith(b"OK")
PY
    parallel_folder="$WINEPREFIX/drive_c/RomsmithParallel"
    parallel_pictures="$work/parallel-$tag"
    mkdir -p "$parallel_pictures"
    ROMSMITH_PARALLEL=4 wine "$operator" prepare "$(winepath -w "$parallel_folder")" "$build/romsmith/Romsmith.exe" \
      "$build/lanquay/lanquay.dll" PowerOn LAN $language "${base}2" "${base}3" "${base}4" "${base}5" "${base}6"
    python3 "$root/tools/make_firmware.py" "$parallel_folder/sample.hex" 614400
    wine "$operator" write "$(winepath -w "$parallel_folder")" "$(winepath -w "$parallel_folder/sample.hex")" \
      "$(winepath -w "$parallel_pictures")" >/dev/null
    cp "$parallel_pictures/progress_writing.bmp" "$pictures/progress_parallel.bmp"
    cp "$parallel_pictures/progress_power_lamp.bmp" "$pictures/progress_parallel_power_lamp.bmp"
    for bmp in "$pictures"/*.bmp; do
      name=$(basename "$bmp" .bmp)
      convert "$bmp" -strip "$root/docs/screenshots/${name}_$tag.png"
    done
  done
  exit 0
fi

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" -DKIT_WERROR=ON >/dev/null
cmake --build "$build" -j2 --target Romsmith Tagsmith lanquay romsmith_operator tagsmith_operator >/dev/null
work=$(mktemp -d /tmp/kit-shots.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$root/docs/screenshots"
bash "$root/scripts/wine-session.sh" bash "$0" --in-session "$work" >"$work/session.log" 2>&1 || {
  tail -20 "$work/session.log" >&2
  exit 1
}
ls -l "$root/docs/screenshots"
