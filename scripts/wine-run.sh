#!/usr/bin/env bash
# Runs a Windows executable under Wine in the prefix prepared by scripts/wine-prefix.sh.
# Used as CMAKE_CROSSCOMPILING_EMULATOR, so ctest and test discovery go through it.
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
: "${WINEPREFIX:=$here/../build/windows/wineprefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
