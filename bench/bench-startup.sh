#!/usr/bin/env bash
# Time from process start to the shown launcher window, best of 5, for the Linux port and the
# Windows build under Wine (the 32-bit product where the host runs 32-bit programs, the 64-bit
# build otherwise), each on an Xvfb display of its own. Needs the launchers built.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
source tests/harness/wine-prefix.sh
wine_detect >/dev/null
bash tests/harness/with-xvfb.sh python3 bench/bench-startup.py linux build/linux/vorna380-launcher 5
if [ "$WINE32_WORKS" = 1 ]; then flavour=win32 build=build/windows; else flavour=win64 build=build/windows-x64; fi
bash tests/harness/with-xvfb.sh bash tests/harness/wine-display-run.sh "$flavour" \
  python3 bench/bench-startup.py "$flavour" "$build/Vorna380-Launcher.exe" 5
