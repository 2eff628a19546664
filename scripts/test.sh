#!/usr/bin/env bash
# Sets up the machine, builds the Linux port (plain and sanitized), the fuzz targets and the
# Windows product, then runs every test of both builds. Ends with ctest's summary of all.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/setup.sh

jobs=$(nproc)
for preset in linux linux-sanitize windows; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
if [ -f fuzz/CMakeLists.txt ]; then
  cmake --preset linux-fuzz >/dev/null
  cmake --build --preset linux-fuzz -j "$jobs"
fi

# One ctest run over all builds, so the output ends with one summary.
source scripts/wine-prefix.sh
wine_start "$root/build/windows/wineprefix"
trap wine_stop EXIT
cmake -DROOT="$root" -P scripts/all-tests.cmake >/dev/null
ctest --test-dir build/all --output-on-failure -j "$jobs"
