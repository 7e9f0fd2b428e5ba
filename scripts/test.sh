#!/usr/bin/env bash
# The test command: installs what the build needs when it is missing, builds, and runs
# every test twice (a normal build, then AddressSanitizer + UndefinedBehaviorSanitizer),
# then the 32-bit Windows leg when its script is present.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v ninja >/dev/null || need+=(ninja-build)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ]; then
    echo "== installing: ${need[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
  else
    echo "missing packages (run as root to install): ${need[*]}" >&2
    exit 1
  fi
fi

run_suite() {  # name, extra cmake arguments...
  local dir="$root/build/$1"; shift
  echo "== configure and build: $dir"
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== tests: $dir"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

run_suite release -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite sanitize -DCMAKE_BUILD_TYPE=Debug -DDR_SANITIZE=ON -DDR_BUILD_BENCH=OFF

if [ -x "$root/scripts/test-windows.sh" ]; then
  "$root/scripts/test-windows.sh"
fi
echo "== all tests passed"
