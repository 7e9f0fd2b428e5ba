#!/usr/bin/env bash
# install_test.sh BUILD_DIR C_COMPILER TYPELIB: installs the build into a temporary prefix,
# checks what the prefix holds, and builds and runs two C consumers against it: one with
# CMake's find_package(dr), one with plain cc and pkg-config.
set -euo pipefail
build=$1 cc=$2 typelib=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

# A build with a target missing installs nothing at all, rather than half a package.
if cmake -DCMAKE_INSTALL_PREFIX="$prefix" -DDR_INSTALL_ASSUME_MISSING=libTavEncoder.so \
     -P "$build/cmake_install.cmake" >"$work/refused.log" 2>&1; then
  echo "an install with a missing target went ahead" >&2; exit 1
fi
grep -q 'nothing installed: these are not built yet' "$work/refused.log" || { cat "$work/refused.log" >&2; exit 1; }
[ ! -e "$prefix" ] || { echo "a refused install left files in $prefix" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/drtool lib/libdr.a lib/libTavEncoder.so include/dr/dr.h include/dr/dr_compat.h include/TavEncoder/IMyEncoder.h \
         include/TavEncoder/com_layer.h lib/cmake/dr/drConfig.cmake lib/cmake/dr/drConfigVersion.cmake \
         lib/cmake/dr/drTargets.cmake lib/pkgconfig/dr.pc lib/pkgconfig/dr_json.pc lib/pkgconfig/dr_compile.pc; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f" >&2; exit 1; }
done

# The installed core headers on their own, as strict C99 and C11.
for std in c99 c11; do
  for h in dr.h dr_compat.h; do
    echo "#include \"dr/$h\"" | "$cc" -std=$std -pedantic-errors -Wall -Wextra -Werror -I"$prefix/include" \
      -x c -fsyntax-only -
  done
done

expected="Position: 10 host bytes, 10 network bytes"
check() {  # what, output
  [ "$2" = "$expected" ] || { echo "$1 printed '$2', not '$expected'" >&2; exit 1; }
}

# A C-only CMake project: dr::dr brings its include directory and the C++ runtime.
cmake -S "$here/consumer" -B "$work/cmake" -G Ninja -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
check "the find_package consumer" "$("$work/cmake/consumer" "$typelib")"

# Plain cc with pkg-config.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# shellcheck disable=SC2046  # pkg-config gives several words
"$cc" -std=c11 "$here/consumer/consumer.c" -o "$work/pc_consumer" $(pkg-config --cflags --libs dr)
check "the pkg-config consumer" "$("$work/pc_consumer" "$typelib")"

# The compiler and the JSON library by their own pkg-config files (each brings dr and expat).
# shellcheck disable=SC2046
"$cc" -std=c11 "$here/consumer/json_consumer.c" -o "$work/json_consumer" $(pkg-config --cflags --libs dr_compile dr_json)
out=$("$work/json_consumer")
[ "$out" = "P: ff fe" ] || { echo "the dr_compile/dr_json consumer printed '$out'" >&2; exit 1; }
echo "installed package consumed by CMake and by pkg-config"
