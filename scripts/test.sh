#!/bin/bash
# Builds the three configurations and runs every test:
#   native  - the platform-free code with ASan/UBSan, plus short fuzz runs
#   i686    - the shipping Windows build, compiled with warnings as errors
#   x86_64  - the Windows build whose test programs run under Wine
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
build="${KIT_BUILD_DIR:-$root/build}"
jobs=$(nproc)

echo "== native build and tests"
cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKIT_SANITIZE=ON -DKIT_FUZZ=ON -DKIT_WERROR=ON >/dev/null
cmake --build "$build/native" -j"$jobs"
ctest --test-dir "$build/native" --output-on-failure

echo "== i686 build (shipping, warnings are errors)"
cmake -S "$root" -B "$build/i686" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" -DKIT_WERROR=ON >/dev/null
cmake --build "$build/i686" -j"$jobs"

echo "== x86_64 build and tests under Wine"
cmake -S "$root" -B "$build/x86_64" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" -DKIT_WERROR=ON -DKIT_TEST_SEAMS=ON >/dev/null
cmake --build "$build/x86_64" -j"$jobs"
bash "$root/scripts/wine-session.sh" ctest --test-dir "$build/x86_64" --output-on-failure
