#!/usr/bin/env bash
# windows_detect_test.sh DETECT_SCRIPT SCRATCH_DIR CC: how the Windows leg decides what this
# machine can run: the leg chosen for every combination of what a machine has, the override,
# and the i386 probe against a 32-bit program from the compiler, where it can build one.
set -u
source "$1"
scratch=$2 cc=$3
failures=0
check() {  # description, then a command that must succeed
  local what=$1
  shift
  "$@" || { echo "FAILED: $what"; failures=$((failures + 1)); }
}
contains() { [[ $1 == *"$2"* ]]; }
absent() { [[ $1 != *"$2"* ]]; }

for ia32 in yes no; do
  for wine32 in yes no; do
    for wine64 in yes no; do
      for mingw64 in yes no; do
        choose_leg $ia32 $wine32 $wine64 $mingw64
        case=" (ia32=$ia32 wine32=$wine32 wine64=$wine64 mingw64=$mingw64: $leg $leg_name)"
        # The 32-bit leg runs, and is called 32-bit, exactly where 32-bit Wine can run.
        if [ $ia32 = yes ] && [ $wine32 = yes ]; then
          check "the 32-bit leg where it can run$case" [ "$leg" = i686 ]
        else
          check "no 32-bit leg where it cannot run$case" [ "$leg" != i686 ]
          check "a substitute never calls itself 32-bit$case" absent "$leg_name" "32-bit,"
          [ $ia32 = no ] && check "the reason names the kernel$case" contains "$leg_name" "32-bit programs cannot run here"
          if [ $wine64 = yes ] && [ $mingw64 = yes ]; then
            check "x86-64 under wine64 as the substitute$case" [ "$leg" = x86_64 ]
          else
            check "nothing runs without 64-bit Wine and compiler$case" [ "$leg" = none ]
          fi
        fi
      done
    done
  done
done

DR_WINDOWS_FORCE_NO_IA32=1 ia32_probe "$scratch"
check "the override says no, and why" [ "$ia32" = no ]
check "the override names itself" contains "$ia32_why" DR_WINDOWS_FORCE_NO_IA32

unset DR_WINDOWS_FORCE_NO_IA32
ia32_probe "$scratch"
check "the probe answers yes or no (got '$ia32': $ia32_why)" contains " yes no " " $ia32 "
if printf 'int main(void) { return 42; }\n' | "$cc" -m32 -x c - -o "$scratch/m32" 2>/dev/null; then
  rc=0
  "$scratch/m32" 2>/dev/null || rc=$?
  ran=no
  [ $rc = 42 ] && ran=yes
  check "the probe ($ia32: $ia32_why) agrees with a compiled 32-bit program (ran: $ran)" [ "$ia32" = "$ran" ]
else
  echo "note: $cc cannot build 32-bit programs; the probe is not compared with one"
fi

[ $failures = 0 ] && echo "windows leg detection: all checks passed"
exit $((failures > 0))
