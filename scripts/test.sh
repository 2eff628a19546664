#!/usr/bin/env bash
# Sets up the machine, builds the Linux port (plain and sanitized), the fuzz targets and the
# Windows builds, then runs every test in one ctest run that ends with ctest's summary.
# The 32-bit Windows tests run where the host can run 32-bit programs, the 64-bit ones always
# (VORNA380_WINE64_ONLY=1 forces the 64-bit-only path).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
bash scripts/setup.sh
source scripts/wine-prefix.sh
wine_detect

jobs=$(nproc)
build() {  # preset [cmake -D options...]
  local preset=$1
  shift
  cmake --preset "$preset" "$@" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
}
build linux
build linux-sanitize
build linux-fuzz
# Where 32-bit programs cannot run, the product is built and checked without its tests.
build windows -DVORNA380_TESTS=$([ "$WINE32_WORKS" = 1 ] && echo ON || echo OFF)
build windows-x64

source scripts/release-server.sh
trap 'wine_stop_all; release_server_stop' EXIT
for flavour in $WINE_FLAVOURS; do wine_start "$flavour"; done
# The tests that talk to the release server find it through VORNA380_RELEASE_SERVER.
release_server_start
# One ctest run over all builds, so the output ends with one summary.
cmake -DROOT="$root" -P scripts/all-tests.cmake >/dev/null
ctest --test-dir build/all --output-on-failure -j "$jobs"
