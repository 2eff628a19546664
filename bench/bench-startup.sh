#!/usr/bin/env bash
# Time from process start to the shown launcher window, best of 5, for the Linux port and the
# Windows build under Wine (the 32-bit product where the host runs 32-bit programs, the 64-bit
# build otherwise), each on an Xvfb display of its own. Needs the launchers built.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
source bench/bench-common.sh
source tests/harness/wine-prefix.sh
wine_detect >/dev/null
figures=$(mktemp -d)
trap 'rm -rf "$figures"' EXIT
BENCH_STARTUP_OUT=$figures/linux bash tests/harness/with-xvfb.sh python3 bench/bench-startup.py linux \
  build/linux/vorna380-launcher 5
if [ "$WINE32_WORKS" = 1 ]; then flavour=win32 build=build/windows; else flavour=win64 build=build/windows-x64; fi
if [ -f "$build/Vorna380-Launcher.exe" ]; then
  BENCH_STARTUP_OUT=$figures/wine bash tests/harness/with-xvfb.sh bash tests/harness/wine-display-run.sh "$flavour" \
    python3 bench/bench-startup.py "$flavour" "$build/Vorna380-Launcher.exe" 5
  read -r t_wine k_wine < "$figures/wine"
else
  echo "Windows launcher: $build/Vorna380-Launcher.exe not found, skipped"
  t_wine=0.120 k_wine=0
fi
read -r t_linux k_linux < "$figures/linux"
peer="Windows build under Wine ($flavour)"
[ "$k_wine" = 0 ] && peer="the goal, 120 ms"
record "start-up to the mapped window, Linux (goal 0.120 s)" "$t_linux" "$k_linux" - "$peer" "$t_wine" "$k_wine" -
