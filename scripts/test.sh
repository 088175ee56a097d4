#!/bin/bash
# Builds the three configurations and runs every test:
#   native  - the platform-free code with ASan/UBSan, plus short fuzz runs
#   i686    - the shipping Windows build, compiled with warnings as errors
#   x86_64  - the Windows build whose test programs run under Wine
#   bash scripts/test.sh           every test
#   bash scripts/test.sh --quick   the native tests and the Wine tests that
#                                  take seconds (no fuzzing, no i686 build)
# The Wine test programs run side by side, each in a Wine session of its own
# copied from one ready prefix (scripts/wine-run.sh), while the other builds,
# the native tests and fuzzing use, at low priority, what processor they
# leave idle.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
quick=0
[ "${1:-}" = --quick ] && quick=1
bash "$root/scripts/install-deps.sh"
build="${KIT_BUILD_DIR:-$root/build}"
jobs=$(nproc)
# Most of a Wine test's time is spent waiting on printers, time limits and
# windows, so more programs than cores run at once.
wine_jobs=${KIT_WINE_JOBS:-$((jobs * 2))}
started=$SECONDS
quick_args=()
[ $quick = 1 ] && quick_args=(-LE 'slow|fuzz|netns')

# The ready prefix is made while the x86_64 build compiles.
template="$build/wine-template"
rm -rf "$template"
mkdir -p "$build"
# Without a window manager (Xvfb has none) Wine waits up to two seconds for
# one whenever a managed window is hidden; the tests' windows are unmanaged.
(
  bash "$root/scripts/wine-session.sh" --prepare "$template"
  WINEPREFIX="$template" env -u DISPLAY wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
  WINEPREFIX="$template" wineserver -w
) >"$build/wine-template.log" 2>&1 &
template_job=$!

echo "== x86_64 build"
cmake -S "$root" -B "$build/x86_64" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" -DKIT_WERROR=ON -DKIT_TEST_SEAMS=ON >/dev/null
cmake --build "$build/x86_64" -j"$jobs"
wait $template_job || { cat "$build/wine-template.log"; exit 1; }

echo "== x86_64 tests under Wine: started, the results follow the native tests"
wine_log="$build/wine-tests.log"
(
  export KIT_WINE_TEMPLATE="$template"
  ctest --test-dir "$build/x86_64" -j"$wine_jobs" --output-on-failure -E '^lanquay_exports$' "${quick_args[@]}"
) >"$wine_log" 2>&1 &
wine_job=$!
trap 'kill $wine_job 2>/dev/null || true' EXIT

status=0
if [ $quick = 0 ]; then
  echo "== i686 build (shipping, warnings are errors)"
  cmake -S "$root" -B "$build/i686" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" -DKIT_WERROR=ON >/dev/null
  nice -n 15 cmake --build "$build/i686" -j"$jobs"
  echo "== lanquay's export tables (x86_64 and i686)"
  ctest --test-dir "$build/x86_64" --output-on-failure -R '^lanquay_exports$' || status=1
fi

echo "== native build and tests"
cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKIT_SANITIZE=ON -DKIT_FUZZ=$([ $quick = 1 ] && echo OFF || echo ON) -DKIT_WERROR=ON >/dev/null
nice -n 15 cmake --build "$build/native" -j"$jobs"
nice -n 15 ctest --test-dir "$build/native" -j"$jobs" --output-on-failure "${quick_args[@]}" || status=1

echo "== x86_64 tests under Wine"
wine_status=0
wait $wine_job || wine_status=$?
trap - EXIT
cat "$wine_log"
[ $wine_status = 0 ] || status=1
echo "== all tests: $([ $status = 0 ] && echo passed || echo FAILED) in $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"
exit $status
