#!/bin/bash
# Installs the Debian packages that the build, the tests and the demo need.
# Idempotent: nothing is fetched when everything is already there.
# fonts-ipafont-gothic and fonts-wine give the Wine session real Japanese
# glyphs and Tahoma (scripts/wine-session.sh); zip packs the release folder.
set -euo pipefail
packages=(cmake make g++ clang libclang-rt-14-dev python3
          g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64
          xvfb xauth socat iproute2 imagemagick
          fonts-ipafont-gothic fonts-wine zip)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ -d /usr/src/googletest ] || missing+=(googletest)
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
