#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz/ and runs each for
# SECONDS (default 60), two at a time, on a scratch copy of its committed
# corpus (new inputs never land in tests/fuzz/corpus/). Fails when any fuzzer
# finds a crash, leak or time-out, and names the file that holds the input.
set -euo pipefail
seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../tools/dev/build.sh"

"$VOXMERE_ROOT/tools/dev/install-deps.sh"
fuzz_build="$VOXMERE_BUILD/fuzz"
CC=clang CXX=clang++ cmake -S "$VOXMERE_ROOT" -B "$fuzz_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVOXMERE_FUZZ=ON -DVOXMERE_TESTS=OFF >/dev/null
cmake --build "$fuzz_build" --target voxmere_fuzzers

runs="$fuzz_build/runs"
rm -rf "$runs"
mkdir -p "$runs"

# One fuzzer in runs/NAME/: corpus/ (scratch), log, rc, and any crash-*,
# leak-*, timeout-* or oom-* file it leaves.
run_fuzzer() {
  local name=$1 dir="$runs/$1"
  mkdir -p "$dir/corpus"
  cp "$here/corpus/$name/"* "$dir/corpus/"
  local rc=0
  "$fuzz_build/bin/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$dir/" "$dir/corpus" >"$dir/log" 2>&1 || rc=$?
  echo "$rc" >"$dir/rc"
}

names=()
for source in "$here"/fuzz_*.cpp; do names+=("$(basename "$source" .cpp)"); done

echo "Fuzzing ${#names[@]} targets for ${seconds} s each, two at a time"
for name in "${names[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge 2 ]; do wait -n || true; done
  run_fuzzer "$name" &
done
wait

passed=0
failed=0
for name in "${names[@]}"; do
  dir="$runs/$name"
  # The last status line: "#N DONE cov: C ft: F corp: ... exec/s: E ...".
  stats=$(grep -E '^#[0-9]+' "$dir/log" | tail -n 1 || true)
  execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$dir/log" | grep -o '[0-9]*$' || echo "?")
  cov=$(grep -o 'cov: [0-9]*' <<<"$stats" | grep -o '[0-9]*$' || echo "?")
  rate=$(grep -o 'exec/s: [0-9]*' <<<"$stats" | grep -o '[0-9]*$' || echo "?")
  artifacts=$(find "$dir" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
    -o -name 'oom-*' \) | sort)
  rc=$(cat "$dir/rc" 2>/dev/null || echo "none")
  if [ "$rc" = 0 ] && [ -z "$artifacts" ]; then
    passed=$((passed + 1))
    echo "PASS $name: $execs inputs, cov: $cov, exec/s: $rate"
  else
    failed=$((failed + 1))
    echo "FAIL $name (exit $rc), log: $dir/log"
    for file in $artifacts; do echo "  input: $file"; done
    grep -E 'ERROR: |invariant failed|SUMMARY' "$dir/log" | head -n 5 | sed 's/^/  /'
  fi
done
echo "fuzzers: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
