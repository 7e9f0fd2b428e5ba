#!/usr/bin/env bash
# The test command: installs what the build needs when it is missing, builds, and runs
# every test twice (a normal build, then AddressSanitizer + UndefinedBehaviorSanitizer),
# then the Windows leg when its script is present. Each test has its own time limit; one
# without fails after 120 s instead of stalling the run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

source "$root/scripts/packages.sh"
ensure_packages cmake=cmake g++=g++ ninja-build=ninja \
  libgtest-dev=/usr/include/gtest/gtest.h libbenchmark-dev=/usr/include/benchmark/benchmark.h \
  pkg-config=pkg-config g++-multilib=/usr/include/x86_64-linux-gnu/c++/12/32/bits/c++config.h \
  rapidjson-dev=/usr/include/rapidjson/reader.h

run_suite() {  # name, extra cmake arguments...
  local dir="$root/build/$1"; shift
  echo "== configure and build: $dir"
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== tests: $dir"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 120)
}

run_suite release -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite sanitize -DCMAKE_BUILD_TYPE=Debug -DDR_SANITIZE=ON -DDR_BUILD_BENCH=OFF

if [ -x "$root/scripts/test-windows.sh" ]; then
  "$root/scripts/test-windows.sh"
fi
echo "== all tests passed"
