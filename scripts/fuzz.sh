#!/usr/bin/env bash
# Builds the fuzz preset and runs one fuzz target, or all of them, on its seed
# corpus for a while:
#   bash scripts/fuzz.sh [TARGET] [SECONDS]     (default: all, 25 s each)
# Seeds are read from tests/fuzz/corpus/TARGET; what the fuzzer finds new goes
# to a scratch corpus under build-fuzz/corpus/TARGET (kept between runs, not
# in the repository), crash inputs to build-fuzz/artifacts/. Exits 1 when any
# target fails. FUZZ_ARGS adds libFuzzer options (e.g. -runs=N, -jobs=2).
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:-all}
seconds=${2:-25}
jobs=$(nproc)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs" --target ziv_fuzz

if [[ $target == all ]]; then
  targets=()
  for src in tests/fuzz/*_fuzz.cpp; do targets+=("$(basename "$src" .cpp)"); done
else
  targets=("$target")
fi

work=$PWD/build-fuzz  # absolute: the tools' targets change their working directory
mkdir -p "$work/artifacts"
failed=()
for t in "${targets[@]}"; do
  bin=$work/bin/$t
  [[ -x $bin ]] || { echo "fuzz: no such target: $t" >&2; exit 2; }
  seeds=$PWD/tests/fuzz/corpus/$t
  scratch=$work/corpus/$t
  mkdir -p "$scratch"
  log=$work/artifacts/$t.log
  echo "== fuzz $t: ${seconds} s"
  # shellcheck disable=SC2086
  if "$bin" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$work/artifacts/$t-" ${FUZZ_ARGS:-} "$scratch" "$seeds" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    failed+=("$t")
    grep -E 'ERROR|SUMMARY|^[a-z_]+_fuzz:|Test unit written' "$log" | head -n 20 || true
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  echo "-- $t: $result, ${runs:-?} executions (${rate:-?}/s), corpus $(ls "$scratch" | wc -l) files; log $log"
done

# The closing line in the form test runners use: N passed, N failed.
echo "fuzz: $(( ${#targets[@]} - ${#failed[@]} )) passed, ${#failed[@]} failed"
if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzz: FAILED: ${failed[*]}" >&2
  exit 1
fi
