#!/usr/bin/env bash
# Runs a command against a Wine prefix of its own whose desktop is the current X display:
#   wine-display-run.sh win32|win64 COMMAND [ARGS...]
# The shared test prefix starts headless, and Wine then sizes its screen 1024 x 768 whatever
# display a later program opens. Callers must not run two of these at once for one flavour.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh"
arch=$1
shift
case "$arch" in
  win32) export VORNA380_WINEPREFIX_WIN32="$WINE_REPO/build/windows/wineprefix-display" ;;
  win64) export VORNA380_WINEPREFIX_WIN64="$WINE_REPO/build/windows-x64/wineprefix-display" ;;
  *) echo "wine-display-run.sh: first argument must be win32 or win64" >&2; exit 2 ;;
esac
trap wine_stop_all EXIT
trap 'exit 143' TERM INT HUP
wine_start "$arch" || exit 1
"$@"
