#!/usr/bin/env bash
# The demo: installs what the build needs when it is missing, builds drtool, and tours the
# lobby sample (examples/): the typelib's summary, the C header it generates, a login
# message encoded, decoded back, printed as text and as XML, and encoded for an older peer.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

source "$root/scripts/packages.sh"
ensure_packages cmake=cmake g++=g++ ninja-build=ninja

build=$root/build/demo
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "== Building drtool (in build/demo)"
if ! { cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDR_BUILD_TESTS=OFF -DDR_BUILD_BENCH=OFF &&
       cmake --build "$build" --target drtool -j 2; } >"$work/build.log" 2>&1; then
  cat "$work/build.log" >&2
  exit 1
fi

lib=examples/proto.tlb
host=examples/login.host
section() { printf '\n== %s\n' "$*"; }
# Shows a drtool command as one would type it, then runs it.
drtool() {
  printf '$ drtool %s\n' "$*"
  "$build/tools/drtool" "$@"
}

section "1. The sample typelib: a game lobby protocol of ten record types (first lines)"
drtool summary "$lib" >"$work/summary.txt"
sed -n '2,22p' "$work/summary.txt"
echo "   ... $(wc -l <"$work/summary.txt") lines in all"

section "2. The C header it generates (the macros and one of the structs)"
drtool header "$lib" "$work/lobby.h"
grep '^#define [A-Z_]* ' "$work/lobby.h"
echo
sed -n '/^struct tagLoginReq$/,/^};$/p' "$work/lobby.h"

section "3. A login message (examples/login.host, 822 host bytes) encoded for the network"
drtool encode "$lib" Message "$host"

section "4. Decoded back into a host record"
drtool encode "$lib" Message "$host" -o "$work/login.net"
drtool decode "$lib" Message "$work/login.net" -o "$work/login.back"
if cmp -s "$host" "$work/login.back"; then
  echo "the decoded record equals $host, all $(wc -c <"$host") bytes"
else
  echo "the decoded record differs from $host" >&2
  exit 1
fi

section "5. The record as one line of text"
drtool print "$lib" Message "$host"

section "6. The record as XML (the password is marked to stay out of it)"
drtool print "$lib" Message "$host" --xml

section "7. The same message for a peer that speaks version 1"
drtool encode "$lib" Message "$host" -v 1
echo "(device came in version 2 and locale in version 3: both are left out, and body_len says so)"
