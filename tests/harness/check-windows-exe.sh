#!/usr/bin/env bash
# Checks the Windows product: a PE32 GUI executable for Intel 80386 that imports nothing but
# Windows system DLLs (the C and C++ runtimes are linked in statically).
set -euo pipefail
exe=$1
kind=$(file -b "$exe")
echo "file: $kind"
case "$kind" in
  "PE32 executable (GUI) Intel 80386"*) ;;
  *) echo "not a 32-bit GUI executable"; exit 1 ;;
esac
allowed='^(kernel32|user32|gdi32|gdiplus|shell32|ole32|oleaut32|advapi32|bcrypt|crypt32|credui|winhttp|ws2_32|iphlpapi|comctl32|msvcrt|shlwapi|uxtheme|version)\.dll$'
status=0
while read -r dll; do
  echo "imports: $dll"
  if ! printf '%s\n' "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
    echo "not a Windows system DLL: $dll"
    status=1
  fi
done < <(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
exit $status
