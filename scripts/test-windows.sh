#!/usr/bin/env bash
# The Windows leg: cross-builds TavEncoder.dll and its test client with mingw-w64, checks the
# DLL's exports, imports and version resource, registers it with regsvr32 in a fresh Wine
# prefix, runs the client through real COM under a virtual X display, and unregisters it.
#
# The 32-bit DLL is always built and checked. It runs under 32-bit Wine where the kernel runs
# 32-bit programs; where it does not (IA-32 emulation off), the same component and client are
# built for x86-64 and run under 64-bit Wine instead, and the result line says so. A machine
# that can run neither, or packages that cannot be installed, make the leg say what it left
# out, not fail. DR_WINDOWS_FORCE_NO_IA32=1 acts as on a kernel without 32-bit support.
# Logs of every Wine step: build/windows/logs/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/windows
logs=$build/logs
leg_start=$(date +%s)
step_start=$leg_start
leg_name="not yet chosen"
source "$root/scripts/windows-detect.sh"

# Forced, and where root may: the whole leg runs in a private mount namespace in which the
# 32-bit Wine loader fails as on a kernel without IA-32 emulation, so that nothing in the
# x86-64 leg leans on a 32-bit program unnoticed.
if [ -n "${DR_WINDOWS_FORCE_NO_IA32:-}" ] && [ -z "${DR_WINDOWS_MASKED:-}" ] && [ -x "$wine32_loader" ] &&
  [ "$(id -u)" = 0 ] && unshare -m true 2>/dev/null; then
  mkdir -p "$build"
  printf '#!/bin/sh\necho "$0: cannot execute binary file: Exec format error" >&2\nexit 126\n' >"$build/ia32-refused"
  chmod +x "$build/ia32-refused"
  exec unshare -m sh -c 'mount --bind "$1" "$2" && DR_WINDOWS_MASKED=1 exec bash "$0"' \
    "$0" "$build/ia32-refused" "$wine32_loader"
fi

step_done() {  # name
  local now
  now=$(date +%s)
  echo "== windows: $1 took $((now - step_start))s"
  step_start=$now
}

fail() {  # reason [log]: the leg failed for the project's reasons
  echo "windows leg ($leg_name) FAILED: $1" >&2
  if [ -n "${2:-}" ] && [ -f "$2" ]; then
    echo "-- last lines of $2:" >&2
    tail -n 20 "$2" >&2
  fi
  exit 1
}

# run_logged NAME SECONDS LOG DIR COMMAND...: runs COMMAND in DIR with its output in LOG; a
# failure names the step and whether it timed out, and shows the log's last lines.
run_logged() {
  local name=$1 secs=$2 log=$3 dir=$4 rc=0
  shift 4
  (cd "$dir" && exec timeout "$secs" "$@") >>"$log" 2>&1 || rc=$?
  [ "$rc" = 0 ] && return 0
  [ "$rc" = 124 ] && fail "$name timed out after ${secs}s" "$log"
  fail "$name failed with exit status $rc" "$log"
}

# install_packages PACKAGE...: as root installs them; otherwise, or when apt fails, says so and goes on
# (what then cannot run is left out below, and the result line says why).
install_packages() {
  [ $# -gt 0 ] || return 0
  if [ "$(id -u)" != 0 ]; then
    echo "== windows: cannot install $* (not root)"
    return 0
  fi
  echo "== windows: installing $*"
  if [[ " $* " == *:i386* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  if ! { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$@"; } >"$logs/apt.log" 2>&1; then
    echo "== windows: installing $* failed; the leg goes on without it. Last lines of $logs/apt.log:"
    tail -n 5 "$logs/apt.log"
  fi
  step_done "package installation"
}

missing() {  # PACKAGE=PROBE...: prints the packages whose probe (a command, or dpkg:NAME) is absent
  local item pkg probe
  for item in "$@"; do
    pkg=${item%%=*} probe=${item#*=}
    if [[ $probe == dpkg:* ]]; then
      dpkg-query -W -f='${Status}' "${probe#dpkg:}" 2>/dev/null | grep -q 'install ok installed' || echo "$pkg"
    else
      command -v "$probe" >/dev/null || echo "$pkg"
    fi
  done
}

# ---- what this machine can run, and the packages for it ---------------------------------
rm -rf "$logs"
mkdir -p "$logs"
ia32_probe "$build"
common=(cmake=cmake ninja-build=ninja g++-mingw-w64-i686=i686-w64-mingw32-g++ wine=wine xvfb=xvfb-run
  xauth=xauth)
wide=(wine64=dpkg:wine64 g++-mingw-w64-x86-64=x86_64-w64-mingw32-g++)
if [ "$ia32" = yes ]; then
  install_packages $(missing "${common[@]}" wine32:i386=dpkg:wine32:i386)
else
  install_packages $(missing "${common[@]}" "${wide[@]}")
fi
wine_probe
choose_leg "$ia32" "$wine32" "$wine64" "$mingw64"
if [ "$leg" = none ] && [ "$ia32" = yes ]; then  # 32-bit Wine could not be had: try 64-bit
  install_packages $(missing "${wide[@]}")
  wine_probe
  choose_leg "$ia32" "$wine32" "$wine64" "$mingw64"
fi
if [ "$leg" != none ] && ! command -v xvfb-run >/dev/null; then
  leg=none leg_name="not run under Wine: no xvfb-run for the client's display"
fi
[ -z "${DR_WINDOWS_FORCE_NO_IA32:-}" ] || leg_name+=", as forced by DR_WINDOWS_FORCE_NO_IA32"
[ -z "${DR_WINDOWS_MASKED:-}" ] || ia32_why+="; the 32-bit Wine loader is made to fail here"
echo "== windows: 32-bit programs: $ia32 ($ia32_why); $wine_why -> leg: $leg_name"
if ! command -v i686-w64-mingw32-g++ >/dev/null; then
  echo "== windows leg SKIPPED: no i686 mingw-w64 compiler (g++-mingw-w64-i686), so no DLL to build" >&2
  exit 0
fi

# ---- cross builds and the DLL's outside: exports, imports, version resource --------------
cross_build() {  # arch (i686 or x86_64)
  local dir=$build/$1
  echo "== windows: configure and build $dir"
  cmake -S "$root" -B "$dir" -G Ninja --no-warn-unused-cli \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$1.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null ||
    fail "$1 cross build: cmake could not configure $dir"
  cmake --build "$dir" -j 2 || fail "$1 cross build failed (compiler output above)"
  [ -f "$dir/component/TavEncoder.dll" ] && [ -f "$dir/tests/component/windows/tav_client.exe" ] &&
    [ -f "$dir/tests/component/windows/tav_c_client.exe" ] ||
    fail "$1 build products missing"
  step_done "$1 cross build"
}

check_dll() {  # arch, PE magic ("010b" PE32 or "020b" PE32+)
  local dll=$build/$1/component/TavEncoder.dll dump exports imports name
  dump=$("$1-w64-mingw32-objdump" -p "$dll")
  grep -Eq "^Magic[[:space:]]+$2" <<<"$dump" || fail "$dll is not a $([ "$2" = 010b ] && echo PE32 || echo PE32+) image"
  exports=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | awk '/^\t\[/ {print $3}' | sort | tr '\n' ' ')
  [ "$exports" = "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ] ||
    fail "$1 exports are '$exports', expected exactly DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer"
  imports=$(awk '/DLL Name:/ {print $3}' <<<"$dump")
  [ -n "$imports" ] || fail "no imports found in $dll"
  for name in $imports; do
    case "${name,,}" in
      kernel32.dll | user32.dll | advapi32.dll | gdi32.dll | ole32.dll | oleaut32.dll | msvcrt.dll | ws2_32.dll) ;;
      *) fail "$dll imports $name, which is not a system DLL" ;;
    esac
  done
  "$1-w64-mingw32-strings" -el "$dll" | grep -qx OLESelfRegister || fail "$dll has no OLESelfRegister in its version resource"
  echo "== windows: $1 TavEncoder.dll: $([ "$2" = 010b ] && echo PE32 || echo PE32+); exports: $exports; imports: $(echo $imports)"
}

cross_build i686
check_dll i686 010b
if [ "$leg" = x86_64 ]; then
  cross_build x86_64
  check_dll x86_64 020b
fi
if [ "$leg" = none ]; then
  echo "== windows leg ($leg_name): the 32-bit DLL was built and checked; nothing ran under Wine"
  exit 0
fi

# ---- Wine: fresh prefix, registration, the client, unregistration ------------------------
if [ "$leg" = i686 ]; then
  loader=$wine32_loader
  export WINEARCH=win32
else
  loader=$wine64_loader
  export WINEARCH=win64 WINELOADER=$wine64_loader
fi
dir=$build/$leg
export WINEPREFIX=$dir/wineprefix WINEDEBUG=fixme-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wineserver -k >/dev/null 2>&1 || true
rm -rf "$WINEPREFIX" "$dir/run"
mkdir -p "$dir/run"

wait_wineserver() {  # seconds, what is waited for
  timeout "$1" wineserver -w && return 0
  echo "== windows: $2 still running after $1s (timed out); going on"
}

echo "== windows: creating the Wine prefix ($WINEARCH)"
run_logged wineboot 300 "$logs/wineboot.log" "$dir" "$loader" wineboot --init
wait_wineserver 120 "wineboot's processes"
# A virtual desktop: without a window manager on the virtual display, Wine would wait two
# seconds for every box that closes.
run_logged "reg add (virtual desktop)" 60 "$logs/desktop.log" "$dir" \
  "$loader" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
run_logged "reg add (virtual desktop)" 60 "$logs/desktop.log" "$dir" \
  "$loader" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f
wait_wineserver 120 "the prefix's processes"
step_done "wine prefix"

echo "== windows: regsvr32 TavEncoder.dll"
run_logged regsvr32 120 "$logs/regsvr32.log" "$dir/component" "$loader" regsvr32 /s TavEncoder.dll
# Let this displayless session end: the client's session must own a desktop with a display.
wait_wineserver 60 "regsvr32's session"
step_done "registration"

echo "== windows: test client"
# wineserver goes down before the display does, so no Wine process outlives its X server.
run_logged "test client" 180 "$logs/client.log" "$dir/run" \
  xvfb-run -a sh -c '"$0" "$1"; rc=$?; wineserver -k; exit $rc' "$loader" "$dir/tests/component/windows/tav_client.exe"
result=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$logs/client.log" | tail -n 1)
[[ $result == *" passed, 0 failed"* ]] || fail "test client reported '${result:-no result}'" "$logs/client.log"

echo "== windows: C test client"
cp "$root/examples/proto.tlb" "$dir/run/proto.tlb"
run_logged "C test client" 120 "$logs/c_client.log" "$dir/run" \
  xvfb-run -a sh -c '"$0" "$1" proto.tlb; rc=$?; wineserver -k; exit $rc' "$loader" "$dir/tests/component/windows/tav_c_client.exe"
c_result=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$logs/c_client.log" | tail -n 1)
[[ $c_result == *" passed, 0 failed"* ]] || fail "C test client reported '${c_result:-no result}'" "$logs/c_client.log"
result+="; C client: $c_result"
step_done "client"

echo "== windows: regsvr32 /u TavEncoder.dll"
run_logged "regsvr32 /u" 120 "$logs/unregister.log" "$dir/component" "$loader" regsvr32 /u /s TavEncoder.dll
for key in 'HKCR\TavEncoder.MyEncoder' 'HKCR\CLSID\{27F49156-6D05-4750-946C-D075DCF4FE44}'; do
  rc=0
  timeout 60 "$loader" reg query "$key" >>"$logs/unregister.log" 2>&1 || rc=$?
  [ "$rc" = 0 ] && fail "regsvr32 /u left $key in the registry" "$logs/unregister.log"
  [ "$rc" = 124 ] && fail "reg query $key timed out after 60s" "$logs/unregister.log"
done
step_done "unregistration"
echo "== windows leg ($leg_name): $result, in $(($(date +%s) - leg_start))s"
