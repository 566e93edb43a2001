#!/usr/bin/env bash
# Checks a Windows build of pelorin: the machine type it was built for, and
# that it needs no DLL beyond those every Windows system has.
#   check_windows_binary.sh <pelorin.exe> <i386|x86-64>
set -eu
exe=$1
machine=$2
case "$machine" in
  i386) objdump=i686-w64-mingw32-objdump; format=pei-i386 ;;
  x86-64) objdump=x86_64-w64-mingw32-objdump; format=pei-x86-64 ;;
  *) echo "unknown machine $machine"; exit 2 ;;
esac
"$objdump" -f "$exe" | grep -q "file format $format" || {
  echo "FAIL: $exe is not $format"; exit 1; }
"$objdump" -p "$exe" | grep -q "Subsystem.*(Windows CUI)" || {
  echo "FAIL: $exe is not a console program"; exit 1; }
dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for dll in $dlls; do
  case "$dll" in
    kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|api-ms-win-crt-*.dll|ucrtbase.dll) ;;
    *) echo "FAIL: $exe needs $dll"; exit 1 ;;
  esac
done
echo "ok: $exe is a $format console program needing only:" $dlls
