#!/usr/bin/env bash
# The test command: installs what the build needs when it is missing, builds, and runs
# every test twice (a normal build, then AddressSanitizer + UndefinedBehaviorSanitizer),
# then the Python module's tests (scripts/test-python.sh), then each fuzz target for 30 s
# and the four-thread program under ThreadSanitizer (both with clang), then the Windows leg when its script is present. Each test has its own time
# limit; one without fails after 120 s instead of stalling the run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

source "$root/scripts/packages.sh"
ensure_packages cmake=cmake g++=g++ ninja-build=ninja \
  libgtest-dev=/usr/include/gtest/gtest.h libbenchmark-dev=/usr/include/benchmark/benchmark.h \
  pkg-config=pkg-config g++-multilib=/usr/include/x86_64-linux-gnu/c++/12/32/bits/c++config.h \
  libexpat1-dev=/usr/include/expat.h \
  rapidjson-dev=/usr/include/rapidjson/reader.h
# clang with its runtimes (libFuzzer, ThreadSanitizer) for the fuzz and thread legs; a machine
# that cannot install them skips those legs with a message.
(ensure_packages clang-14=clang++-14 \
  libclang-rt-14-dev=/usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a) ||
  echo "== clang could not be installed"
# The peers of the side-by-side benchmarks, which the release build compiles and checks.
ensure_packages libprotobuf-dev=/usr/include/google/protobuf/message.h \
  protobuf-compiler=protoc libtirpc-dev=/usr/include/tirpc/rpc/xdr.h rpcsvc-proto=rpcgen

# tshark runs the generated dissector test, and Lua 5.1 and 5.4 compilers parse its output (tshark
# itself links 5.2); tshark's package asks whether users may capture, answered no beforehand.
(echo "wireshark-common wireshark-common/install-setuid boolean false" | debconf-set-selections 2>/dev/null
  ensure_packages tshark=tshark lua5.1=luac5.1 lua5.4=luac5.4) ||
  echo "== tshark or Lua could not be installed: the dissector test will say what it skips"

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

# The Python module, installed with pip into a virtual environment and tested with pytest.
"$root/scripts/test-python.sh"

if command -v clang++-14 >/dev/null; then
  "$root/scripts/fuzz.sh" 30
  echo "== ThreadSanitizer: four threads on one image; eight racing to build one plan"
  cmake -S "$root" -B "$root/build/tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
    -DCMAKE_CXX_COMPILER=clang++-14 -DDR_TSAN=ON -DDR_BUILD_BENCH=OFF >/dev/null
  cmake --build "$root/build/tsan" -j "$jobs" --target read_only_threads plan_threads
  TSAN_OPTIONS=halt_on_error=1 "$root/build/tsan/tests/threads/read_only_threads"
  TSAN_OPTIONS=halt_on_error=1 "$root/build/tsan/tests/threads/plan_threads"
else
  echo "== fuzzing and ThreadSanitizer skipped: clang is not available"
fi

if [ -x "$root/scripts/test-windows.sh" ]; then
  "$root/scripts/test-windows.sh"
fi
echo "== all tests passed"
