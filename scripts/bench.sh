#!/usr/bin/env bash
# Builds the Release configuration, runs the side-by-side benchmark suite (medians of 5
# repetitions, CPU time) and writes docs/benchmarks.md and the chart docs/benchmarks.svg from
# its results.
# Arguments are passed on to the benchmark binary (e.g. --benchmark_filter=small).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/bench

source "$root/scripts/packages.sh"
# Debian's interpreter, which sees Debian's matplotlib, not whatever python3 comes first on the PATH.
python=/usr/bin/python3
ensure_packages cmake=cmake g++=g++ ninja-build=ninja python3=$python \
  python3-matplotlib=/usr/lib/python3/dist-packages/matplotlib/__init__.py \
  libbenchmark-dev=/usr/include/benchmark/benchmark.h libprotobuf-dev=/usr/include/google/protobuf/message.h \
  protobuf-compiler=protoc libtirpc-dev=/usr/include/tirpc/rpc/xdr.h rpcsvc-proto=rpcgen

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDR_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j 2 --target dr_compare
"$build/bench/dr_compare" --check

json=$build/compare.json
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
"$build/bench/dr_compare" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$json" --benchmark_out_format=json "$@"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# The JSON section comes from its own benchmark run (bench/json_bench.cc): keep it.
# The page is written aside and moved in once the chart is drawn too, so a failure in either
# leaves both as they were.
json_section=$(sed -n '/^## JSON both ways/,$p' "$root/docs/benchmarks.md" 2>/dev/null || true)
report=$build/benchmarks.md
"$python" "$root/scripts/bench_report.py" "$json" "$build/CMakeCache.txt" "$load_before" "$load_after" \
  >"$report"
if [ -n "$json_section" ]; then printf '\n%s\n' "$json_section" >>"$report"; fi
"$python" "$root/scripts/bench_chart.py" "$json" "$build/CMakeCache.txt" "$root/docs/benchmarks.svg"
mv "$report" "$root/docs/benchmarks.md"
echo "== wrote docs/benchmarks.md and docs/benchmarks.svg"
