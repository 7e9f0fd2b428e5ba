#!/usr/bin/env bash
# fuzz.sh [SECONDS] [TARGET...]: builds the libFuzzer binaries with clang under
# AddressSanitizer and UndefinedBehaviorSanitizer and runs each target for SECONDS (default
# 60) on its corpus in build/fuzz/corpus/TARGET, which starts from the target's seeds and
# grows from run to run. Without targets all are run. A finding stops the script with the
# crashing input saved as build/fuzz/TARGET-crash-*; each run's statistics end its log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_codec fuzz_load fuzz_oracle fuzz_plan fuzz_compile fuzz_json fuzz_compat)

cc=$(command -v clang-14 || command -v clang || true)
cxx=$(command -v clang++-14 || command -v clang++ || true)
if [ -z "$cc" ] || [ -z "$cxx" ]; then
  echo "== fuzzing skipped: clang is not installed"
  exit 0
fi

dir="$root/build/fuzz"
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_CXX_COMPILER="$cxx" -DDR_FUZZ=ON -DDR_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" -j "$(nproc 2>/dev/null || echo 2)" \
  --target "${targets[@]}" $(printf '%s_replay ' "${targets[@]}")

for t in "${targets[@]}"; do
  corpus="$dir/corpus/$t"
  mkdir -p "$corpus"
  "$dir/fuzz/${t}_replay" --seeds "$corpus"
  echo "== fuzzing $t for ${seconds}s"
  if ! "$dir/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$dir/$t-" "$corpus" >"$dir/$t.log" 2>&1; then
    tail -n 40 "$dir/$t.log"
    echo "== $t found a fault; the input is saved as $dir/$t-*" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/$t.log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/$t.log")
  line="$(date -u +%FT%TZ) $t ${seconds}s executions=$runs per_second=$rate corpus=$(find "$corpus" -type f | wc -l)"
  echo "$line" | tee -a "$dir/runs.txt"
done
