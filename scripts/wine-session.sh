#!/bin/bash
# Runs a command inside a fresh Wine session: its own WINEPREFIX (so nothing
# from an earlier run leaks in) and its own X display. The prefix and the
# wineserver are removed afterwards.
#   wine-session.sh COMMAND [ARGS...]
# With KIT_WINE_DISPLAY=1 the session uses the desktop of DISPLAY instead of
# a virtual one (for a person who wants to click through the programs).
# Japanese texts need a font that Wine is told about: IPAGothic stands in
# for the Japanese system font, and its proportional twin IPAPGothic is
# linked behind Tahoma, the programs' dialog font (from fonts-wine), so that
# Japanese labels keep about the width they have on a Japanese Windows.
set -euo pipefail
if [ "${1:-}" = "--inside" ]; then
  shift
  exec "$@"
fi
prefix=$(mktemp -d /tmp/kit-wine.XXXXXX)
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# A loopback range of its own, so that test runs sharing a machine never meet.
export KIT_SIM_BASE="${KIT_SIM_BASE:-127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1)).}"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT
# The prefix is made outside X: about four times faster than under Xvfb.
env -u DISPLAY wineboot -i >/dev/null 2>&1
fonts="$WINEPREFIX/drive_c/windows/Fonts"
# This Wine build does not look in /usr/share/wine/fonts by itself; Marlett
# draws the caption buttons.
for f in /usr/share/wine/fonts/{tahoma,tahomabd,marlett}.ttf; do
  [ -f "$f" ] && ln -sf "$f" "$fonts/"
done
nt='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
env -u DISPLAY wine reg add "$nt\\FontSubstitutes" /v 'MS UI Gothic' /t REG_SZ /d IPAGothic /f >/dev/null 2>&1
env -u DISPLAY wine reg add "$nt\\FontLink\\SystemLink" /v Tahoma /t REG_MULTI_SZ /d 'ipagp.ttf,IPAPGothic' /f >/dev/null 2>&1
env -u DISPLAY wine reg add "$nt\\FontLink\\SystemLink" /v 'MS Shell Dlg' /t REG_MULTI_SZ /d 'ipagp.ttf,IPAPGothic' /f >/dev/null 2>&1
wineserver -w
if [ "${KIT_WINE_DISPLAY:-}" = 1 ]; then
  "$@"
else
  xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --inside "$@"
fi
