#!/usr/bin/env bash
# The Windows leg: cross-builds TavEncoder.dll and its 32-bit test client with mingw-w64,
# checks the DLL's exports, imports and version resource, registers it with regsvr32 in a
# fresh Wine prefix and runs the client under a virtual X display.
# Installs its packages when missing (as root); without root it skips with a message.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/windows
leg_start=$(date +%s)
step_start=$leg_start

step_done() {  # name
  local now
  now=$(date +%s)
  echo "== windows: $1 took $((now - step_start))s"
  step_start=$now
}

fail() {
  echo "windows leg FAILED: $*" >&2
  exit 1
}

# ---- packages --------------------------------------------------------------------------
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v i686-w64-mingw32-g++ >/dev/null || need+=(g++-mingw-w64-i686)
command -v wine >/dev/null || need+=(wine)
dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' || need+=(wine32:i386)
command -v xvfb-run >/dev/null || need+=(xvfb)
command -v xauth >/dev/null || need+=(xauth)
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "== windows leg SKIPPED: missing packages ${need[*]}; run as root to install them" >&2
    exit 0
  fi
  echo "== windows: installing ${need[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
  step_done "package installation"
fi

# ---- cross build -----------------------------------------------------------------------
echo "== windows: configure and build $build"
cmake -S "$root" -B "$build" -G Ninja --no-warn-unused-cli \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j 2
dll=$build/component/TavEncoder.dll
client=$build/tests/component/windows/tav_client.exe
[ -f "$dll" ] && [ -f "$client" ] || fail "build products missing"
step_done "cross build"

# ---- the DLL's outside: exports, imports, version resource ------------------------------
dump=$(i686-w64-mingw32-objdump -p "$dll")
exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | awk '/^\t\[/ {print $3}' | sort | tr '\n' ' ')
[ "$exports" = "DllCanUnloadNow DllGetClassObject DllRegisterServer " ] ||
  fail "exports are '$exports', expected exactly DllCanUnloadNow DllGetClassObject DllRegisterServer"
imports=$(awk '/DLL Name:/ {print $3}' <<<"$dump")
[ -n "$imports" ] || fail "no imports found"
for name in $imports; do
  case "${name,,}" in
    kernel32.dll | user32.dll | advapi32.dll | gdi32.dll | ole32.dll | oleaut32.dll | msvcrt.dll | ws2_32.dll) ;;
    *) fail "imports $name, which is not a system DLL" ;;
  esac
done
i686-w64-mingw32-strings -el "$dll" | grep -qx OLESelfRegister || fail "no OLESelfRegister in the version resource"
echo "== windows: exports: $exports; imports: $(echo $imports)"

# ---- Wine: fresh prefix, registration, the client ---------------------------------------
export WINEPREFIX=$build/wineprefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineserver -k >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX" "$build/run"
mkdir -p "$build/run"
echo "== windows: creating the Wine prefix"
timeout 300 wineboot --init >/dev/null 2>&1 || fail "wineboot did not finish"
# A virtual desktop: without a window manager on the virtual display, Wine would wait two
# seconds for every box that closes.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null
timeout 120 wineserver -w || true
step_done "wine prefix"

echo "== windows: regsvr32 TavEncoder.dll"
(cd "$build/component" && timeout 120 wine regsvr32 /s TavEncoder.dll) || fail "regsvr32 failed"
# Let this displayless session end: the client's session must own a desktop with a display.
timeout 60 wineserver -w || true
step_done "registration"

echo "== windows: test client"
set +e
# wineserver goes down before the display does, so no Wine process outlives its X server.
(cd "$build/run" && timeout 180 xvfb-run -a sh -c 'wine "$0"; rc=$?; wineserver -k; exit $rc' "$client") |
  tee "$build/run/client.log"
status=${PIPESTATUS[0]}
set -e
step_done "client"
tail -n 1 "$build/run/client.log" | grep -Eq '^[0-9]+ passed, 0 failed' || status=1
[ "$status" = 0 ] || fail "test client exit status $status"
echo "== windows leg passed in $(($(date +%s) - leg_start))s"
