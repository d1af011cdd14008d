#!/usr/bin/env bash
# Builds the release installer twice from this source tree, in two fresh
# build folders, and checks what a release must be: byte-identical builds,
# ASLR (dynamic base, high-entropy VA) and DEP in the PE header, one file
# under 1.5 MB, and no static import outside the loader's KnownDLLs, so that
# a DLL planted beside the installer is never loaded at start.
#
# Usage: release_check.sh <source dir> <scratch dir>
set -euo pipefail
src=$(cd "$1" && pwd)
scratch=$2
objdump=x86_64-w64-mingw32-objdump

rm -rf "$scratch"
mkdir -p "$scratch"
for n in 1 2; do
  cmake -S "$src" -B "$scratch/build$n" --preset release -DVELNOR_DIST_DIR="$scratch/dist$n" >/dev/null
  cmake --build "$scratch/build$n" -j2 >/dev/null
done
exe1="$scratch/dist1/velnor-installer.exe"
exe2="$scratch/dist2/velnor-installer.exe"

fail=0
check() { if eval "$2"; then echo "ok   $1"; else echo "FAIL $1"; fail=1; fi; }

check "two clean builds are byte-identical" 'cmp -s "$exe1" "$exe2"'

characteristics=$($objdump -p "$exe1" | awk '/^DllCharacteristics/ {print $2}')
check "high-entropy VA (0x20)" '(( 16#$characteristics & 0x20 ))'
check "dynamic base (0x40)" '(( 16#$characteristics & 0x40 ))'
check "NX compatible (0x100)" '(( 16#$characteristics & 0x100 ))'
stamp=$($objdump -p "$exe1" | awk '/^Time\/Date/ {print $NF}')
check "no link time stamp" '[ "$stamp" = 1970 ]'

size=$(stat -c %s "$exe1")
check "size $size bytes under 1.5 MB" '(( size < 1572864 ))'

# The loader's known set on Windows 7 and later; anything else must be
# delay-loaded (it then shows under the delay import table instead).
known="advapi32 comdlg32 gdi32 imagehlp imm32 kernel32 msctf msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shell32 shlwapi user32 wldap32 ws2_32 ntdll"
imports=$($objdump -p "$exe1" | awk '/The Import Tables/ {on=1} /Delay Import/ {on=0} on && /DLL Name:/ {print tolower($3)}' | sed 's/\.dll$//' | sort -u)
echo "static imports: $(echo $imports)"
for dll in $imports; do
  check "static import $dll.dll is a KnownDLL" '[[ " $known " == *" $dll "* ]]'
done

exit $fail
