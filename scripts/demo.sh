#!/usr/bin/env bash
# The demo: installs what the build needs when it is missing, builds drtool, and tours the
# lobby sample (examples/): its XML source compiled into a typelib and a C header, the
# typelib's summary, a login message written as JSON, encoded, decoded back to JSON and to a
# host record, printed as text and as XML, and encoded for an older peer.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

source "$root/scripts/packages.sh"
ensure_packages cmake=cmake g++=g++ ninja-build=ninja libexpat1-dev=/usr/include/expat.h \
  rapidjson-dev=/usr/include/rapidjson/reader.h

build=build/demo
tour=$build/tour  # the files the tour writes stay here to look at
echo "== Building drtool (in $build)"
mkdir -p "$build"
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DDR_BUILD_TESTS=OFF -DDR_BUILD_BENCH=OFF &&
       cmake --build "$build" --target drtool -j 2; } >"$build/demo-build.log" 2>&1; then
  cat "$build/demo-build.log" >&2
  exit 1
fi
rm -rf "$tour"
mkdir -p "$tour"

lib=$tour/proto.tlb
host=examples/login.host
json=examples/login.json
section() { printf '\n== %s\n' "$*"; }
# Shows a drtool command as one would type it, then runs it.
drtool() {
  show "$@"
  "$build/tools/drtool" "$@"
}
show() { printf '$ drtool %s\n' "$*"; }

section "1. The source: examples/lobby.xml, a game lobby protocol of ten record types"
sed -n '/<type name="LoginReq"/,/<\/type>/p' examples/lobby.xml
echo "(one of the ten types; the file has them all, and the macros they use)"

section "2. Compiled into a typelib, with the C header that declares its types"
drtool compile examples/lobby.xml -o "$lib" --header "$tour/lobby.h"
if cmp -s "$lib" examples/proto.tlb; then
  echo "$lib: $(wc -c <"$lib") bytes, the same as the committed examples/proto.tlb"
else
  echo "$lib differs from examples/proto.tlb" >&2
  exit 1
fi
show summary "$lib"
"$build/tools/drtool" summary "$lib" >"$tour/summary.txt"
sed -n 2p "$tour/summary.txt"
grep '^Meta' "$tour/summary.txt"
echo "(the type lines of the listing; all $(wc -l <"$tour/summary.txt") lines, with every macro and member, are in $tour/summary.txt)"

echo
echo "The header $tour/lobby.h: its macros and the struct of LoginReq"
grep '^#define [A-Z_]* ' "$tour/lobby.h"
echo
sed -n '/^struct tagLoginReq$/,/^};$/p' "$tour/lobby.h"

section "3. A login message as a person writes it ($json), encoded for the network"
cat "$json"
drtool encode "$lib" Message "$json"
echo "(cmd, the selector of body, and bodyLen, the length the encoder writes, are left out of"
echo " the JSON: the reader sets cmd from the member named in body)"

section "4. Decoded back, as JSON and as a host record"
drtool encode "$lib" Message "$json" -o "$tour/login.net"
drtool decode "$lib" Message "$tour/login.net" --json
drtool decode "$lib" Message "$tour/login.net" -o "$tour/login.back"
if cmp -s "$host" "$tour/login.back"; then
  echo "the decoded host record equals $host, all $(wc -c <"$host") bytes"
else
  echo "the decoded host record differs from $host" >&2
  exit 1
fi

section "5. The record as one line of text"
drtool print "$lib" Message "$host"

section "6. The record as XML (the password is marked to stay out of it)"
drtool print "$lib" Message "$host" --xml

section "7. The same message for a peer that speaks version 1"
drtool encode "$lib" Message "$json" -v 1
echo "(39 bytes instead of 53: device came in version 2 and locale in version 3, so both are"
echo " left out, and bodyLen, which the encoder fills in, says 0x1d = 29 instead of 0x2b = 43)"
