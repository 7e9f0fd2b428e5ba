# windows-detect.sh: sourced by test-windows.sh (and its test): what of the Windows leg this
# machine can run. Nothing here installs anything or fails the caller.

# Set DR_WINDOWS_FORCE_NO_IA32=1 to act as on a kernel that refuses 32-bit programs.
wine32_loader=/usr/lib/wine/wine
wine64_loader=$(command -v wine64 2>/dev/null || echo /usr/lib/wine/wine64)

# ia32_probe DIR: sets ia32 (yes/no) and ia32_why. Writes into DIR and runs a 95-byte static
# i386 program whose only work is exit(42): the kernel either runs it or refuses it (IA-32
# emulation off gives "Exec format error"). Needs no compiler and no 32-bit library.
ia32_probe() {
  if [ -n "${DR_WINDOWS_FORCE_NO_IA32:-}" ]; then
    ia32=no ia32_why="forced by DR_WINDOWS_FORCE_NO_IA32=$DR_WINDOWS_FORCE_NO_IA32"
    return 0
  fi
  local probe=$1/ia32-probe rc=0 err
  mkdir -p "$1"
  # ELF header (32-bit, little-endian, executable, i386, entry 0x08048054), one loadable
  # segment holding the whole file, then: xor ebx,ebx; mov bl,42; mov eax,1; int 0x80.
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$probe"
  printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$probe"
  printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000' >>"$probe"
  printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010' >>"$probe"
  printf '\137\000\000\000\137\000\000\000\005\000\000\000\000\020\000\000' >>"$probe"
  printf '\061\333\263\052\270\001\000\000\000\315\200' >>"$probe"
  chmod +x "$probe"
  err=$("$probe" 2>&1) || rc=$?
  if [ "$rc" = 42 ]; then
    ia32=yes ia32_why="an i386 test program ran"
  else
    ia32=no ia32_why="an i386 test program did not run (exit $rc${err:+: ${err##*: }})"
  fi
}

# wine_probe: sets wine32, wine64 and mingw64 (yes/no each) and wine_why. The loaders must
# exist and, for 64-bit Wine, answer --version; the 32-bit one only runs where ia32=yes.
wine_probe() {
  local v
  wine32=no wine64=no mingw64=no
  [ -x "$wine32_loader" ] && [ "$ia32" = yes ] && wine32=yes
  if [ -x "$wine64_loader" ] && v=$(timeout 60 "$wine64_loader" --version 2>/dev/null); then
    wine64=yes
    wine_why="64-bit Wine: $v at $wine64_loader"
  else
    wine_why="64-bit Wine: none runs at $wine64_loader"
  fi
  command -v x86_64-w64-mingw32-g++ >/dev/null && mingw64=yes
  if [ -x "$wine32_loader" ]; then wine_why+="; 32-bit Wine: $wine32_loader"; else wine_why+="; 32-bit Wine: not installed"; fi
  [ "$mingw64" = yes ] || wine_why+="; no x86-64 mingw-w64 compiler"
  return 0
}

# choose_leg IA32 WINE32 WINE64 MINGW64 (yes/no each): sets leg (i686, x86_64 or none) and
# leg_name, the words the result line uses. Only the i686 leg is called 32-bit.
choose_leg() {
  if [ "$1" = yes ] && [ "$2" = yes ]; then
    leg=i686 leg_name="32-bit, i686 under wine"
    return 0
  fi
  local why="32-bit programs cannot run here"
  [ "$1" = yes ] && why="32-bit Wine is not installed here"
  if [ "$3" = yes ] && [ "$4" = yes ]; then
    leg=x86_64 leg_name="x86-64 under wine64, $why"
  else
    leg=none leg_name="not run under Wine: $why"
    [ "$3" = yes ] || leg_name+="; no 64-bit Wine runs"
    [ "$4" = yes ] || leg_name+="; no x86-64 mingw-w64 compiler"
  fi
}
