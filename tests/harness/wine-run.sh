#!/usr/bin/env bash
# Runs a Windows executable under Wine: wine-run.sh win32|win64 EXE [ARGS...]
# Used as CMAKE_CROSSCOMPILING_EMULATOR, so ctest and test discovery go through it. Each
# flavour has a prefix of its own (tests/harness/wine-prefix.sh prepares it); the 64-bit one is run
# by the 64-bit loader directly, since Debian's `wine` picks the 32-bit loader whenever it is
# installed, even for a 64-bit program.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
arch=$1
shift
case "$arch" in
  win32) prefix=${VORNA380_WINEPREFIX_WIN32:-$here/../../build/windows/wineprefix}
         loader=/usr/lib/wine/wine ;;
  win64) prefix=${VORNA380_WINEPREFIX_WIN64:-$here/../../build/windows-x64/wineprefix}
         loader=/usr/lib/wine/wine64 ;;
  *) echo "wine-run.sh: first argument must be win32 or win64" >&2; exit 2 ;;
esac
export WINEPREFIX=$prefix WINELOADER=$loader
# Wine's menu builder turns the launcher's Start-menu shortcuts into desktop entries and icons
# under $XDG_DATA_HOME: inside the prefix, never in the home of whoever runs the tests
# (VORNA380_WINE_DATA_HOME names another folder).
export XDG_DATA_HOME="${VORNA380_WINE_DATA_HOME:-$prefix/xdg-data}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec "$loader" "$@"
