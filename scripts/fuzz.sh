#!/bin/bash
# Longer fuzzing: runs every libFuzzer target for the given number of minutes
# from the corpus kept in the repository (tests/fuzz/corpus/<target>/), merges
# the inputs that raise coverage back into that corpus and prints executions
# and findings per target.
#
#   bash scripts/fuzz.sh MINUTES [TARGET...]
#
# One worker process per target at a time, so the run takes one core
# (FUZZ_WORKERS=N for more). Findings (crash, leak, timeout, out-of-memory
# inputs) are kept in $KIT_BUILD_DIR/fuzz-findings/. Exit status 1 when any
# target found something.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
minutes=${1:-}
if ! [[ "$minutes" =~ ^[0-9]+([.][0-9]+)?$ ]]; then
  echo "usage: $0 MINUTES [TARGET...]" >&2
  exit 2
fi
shift
bash "$root/scripts/install-deps.sh"
build="${KIT_BUILD_DIR:-$root/build}"
workers=${FUZZ_WORKERS:-1}
seconds=$(awk -v m="$minutes" 'BEGIN { s = int(m * 60); print (s < 1 ? 1 : s) }')
corpus_root="$root/tests/fuzz/corpus"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(sed -n 's/^kit_fuzz_target(\([a-z0-9_]*\) .*/\1/p' "$root/tests/fuzz/CMakeLists.txt")
fi

echo "== native fuzz build"
cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DKIT_SANITIZE=ON -DKIT_FUZZ=ON -DKIT_WERROR=ON >/dev/null
cmake --build "$build/native" -j"$workers" --target "${targets[@]}"
python3 "$root/tests/fuzz/make_seeds.py"

findings_dir="$build/fuzz-findings"
mkdir -p "$findings_dir"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
summary=()
failed=0
for t in "${targets[@]}"; do
  exe="$build/native/tests/fuzz/$t"
  corpus="$corpus_root/$t"
  mkdir -p "$corpus" "$work/$t/new"
  before=$(find "$corpus" -type f | wc -l)
  touch "$work/$t/stamp"
  echo "== $t: ${seconds}s from $before corpus inputs"
  # New inputs land in the scratch folder (the first one given); the
  # repository corpus is only read until the merge.
  (cd "$work/$t" && "$exe" -jobs="$workers" -workers="$workers" -max_total_time="$seconds" \
     -rss_limit_mb=2048 -timeout=25 -print_final_stats=1 \
     -artifact_prefix="$findings_dir/$t-" "$work/$t/new" "$corpus" >/dev/null 2>&1) || true
  execs=0
  for log in "$work/$t"/fuzz-*.log; do
    [ -f "$log" ] || continue
    n=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
    execs=$((execs + ${n:-0}))
    if grep -q -E '^==[0-9]+==ERROR|^SUMMARY: |deadly signal|ERROR: libFuzzer' "$log"; then
      cp "$log" "$findings_dir/$t-$(basename "$log")"
    fi
  done
  # Only what raises the coverage of the kept corpus goes into it.
  "$exe" -merge=1 -rss_limit_mb=2048 -timeout=25 "$corpus" "$work/$t/new" >"$work/$t/merge.log" 2>&1 || {
    echo "merge failed for $t (see below)"; tail -n 20 "$work/$t/merge.log"; failed=1; }
  after=$(find "$corpus" -type f | wc -l)
  found=$(find "$findings_dir" -maxdepth 1 -type f -name "$t-*" ! -name "$t-fuzz-*.log" -newer "$work/$t/stamp" | wc -l)
  [ "$found" -eq 0 ] || failed=1
  summary+=("$(printf '%-28s %14s %8s %9s' "$t" "$execs" "$((after - before))" "$found")")
done

echo
printf '%-28s %14s %8s %9s\n' target executions new findings
printf '%s\n' "${summary[@]}"
echo "corpus: $(find "$corpus_root" -type f | wc -l) inputs, $(du -sb "$corpus_root" | cut -f1) bytes (apparent)"
[ "$failed" -eq 0 ] || echo "findings kept in $findings_dir"
exit "$failed"
