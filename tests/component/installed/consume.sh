#!/usr/bin/env bash
# consume.sh BUILD_DIR C_COMPILER TYPELIB: installs the build into a temporary prefix, builds
# the component's C client there with find_package(dr) and dr::TavEncoder, and runs it.
set -euo pipefail
build=$1 cc=$2 typelib=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$here" -B "$work/build" -G Ninja -DCMAKE_C_COMPILER="$cc" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" >/dev/null
cd "$work" && "$work/build/c_client" "$typelib"
