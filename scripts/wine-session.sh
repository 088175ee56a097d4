#!/bin/bash
# Runs a command inside a Wine session of its own: its own WINEPREFIX (so
# nothing from an earlier run leaks in), its own X display and its own
# loopback range for simulated printers. The prefix, the wineserver and the
# X server are removed afterwards, so any number of sessions can run side by
# side on one machine.
#   wine-session.sh COMMAND [ARGS...]
#   wine-session.sh --prepare DIR     makes a ready prefix in DIR and stops
# With KIT_WINE_TEMPLATE=DIR (a prefix made by --prepare) the session starts
# from a copy of it instead of a new wineboot: a second rather than twenty.
# With KIT_SESSION_SIM=1 the printer simulator runs beside the command
# (tools/sim_fixture.sh run), on COM5 of the prefix.
# With KIT_WINE_DISPLAY=1 the session uses the desktop of DISPLAY instead of
# a virtual one (for a person who wants to click through the programs).
# Japanese texts need a font that Wine is told about: IPAGothic stands in
# for the Japanese system font, and its proportional twin IPAPGothic is
# linked behind Tahoma, the programs' dialog font (from fonts-wine), so that
# Japanese labels keep about the width they have on a Japanese Windows.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

# Makes a new prefix in $WINEPREFIX and waits until its wineserver is gone.
prepare_prefix() {
  # Outside X: about four times faster than under Xvfb.
  env -u DISPLAY wineboot -i >/dev/null 2>&1
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  # This Wine build does not look in /usr/share/wine/fonts by itself; Marlett
  # draws the caption buttons.
  for f in /usr/share/wine/fonts/{tahoma,tahomabd,marlett}.ttf; do
    [ -f "$f" ] && ln -sf "$f" "$fonts/"
  done
  local nt='HKLM\Software\Microsoft\Windows NT\CurrentVersion'
  env -u DISPLAY wine reg add "$nt\\FontSubstitutes" /v 'MS UI Gothic' /t REG_SZ /d IPAGothic /f >/dev/null 2>&1
  env -u DISPLAY wine reg add "$nt\\FontLink\\SystemLink" /v Tahoma /t REG_MULTI_SZ /d 'ipagp.ttf,IPAPGothic' /f >/dev/null 2>&1
  env -u DISPLAY wine reg add "$nt\\FontLink\\SystemLink" /v 'MS Shell Dlg' /t REG_MULTI_SZ /d 'ipagp.ttf,IPAPGothic' /f >/dev/null 2>&1
  wineserver -w
}

# Copies a ready prefix. Its 700 MB are nearly all program files that Wine
# only reads: those are linked, not copied; every other file (registry,
# profiles, anything Wine may rewrite in place) gets a copy of its own.
copy_prefix() {
  local from=$1 to=$2
  if ! cp -al "$from" "$to" 2>/dev/null; then
    rm -rf "$to"
    cp -a "$from" "$to"
    return
  fi
  (cd "$from" && find . -type f ! \( -iname '*.dll' -o -iname '*.exe' -o -iname '*.drv' -o -iname '*.sys' \
    -o -iname '*.ocx' -o -iname '*.nls' -o -iname '*.acm' -o -iname '*.cpl' -o -iname '*.tlb' \) -print0 |
    xargs -0 -r cp -p --parents --remove-destination -t "$to")
}

if [ "${1:-}" = "--prepare" ]; then
  export WINEPREFIX=$2
  mkdir -p "$WINEPREFIX"
  prepare_prefix
  exit 0
fi

session=$(mktemp -d /tmp/kit-wine.XXXXXX)
export WINEPREFIX="$session/prefix"
xpid=""
cleanup() {
  local rc=$?
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  rm -rf "$session"
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ -n "${KIT_WINE_TEMPLATE:-}" ]; then
  copy_prefix "$KIT_WINE_TEMPLATE" "$WINEPREFIX"
else
  mkdir -p "$WINEPREFIX"
  prepare_prefix
fi

# A loopback range of its own, so that sessions sharing a machine never meet.
export KIT_SIM_BASE="${KIT_SIM_BASE:-127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1)).}"

if [ "${KIT_WINE_DISPLAY:-}" != 1 ]; then
  # Xvfb picks a free display itself and tells its number on a pipe: no race
  # between sessions that start at the same moment.
  exec {dfd}<> <(:)
  Xvfb -displayfd "$dfd" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xpid=$!
  read -r -t 30 -u "$dfd" display || { echo "Xvfb did not start" >&2; exit 1; }
  exec {dfd}<&-
  export DISPLAY=":$display"
fi
if [ "${KIT_SESSION_SIM:-}" = 1 ]; then
  "$here/../tools/sim_fixture.sh" run "$session/sim" "$@"
else
  "$@"
fi
