#!/usr/bin/env bash
# Sets up the machine, builds the Linux port (plain and sanitized), the fuzz targets and the
# Windows builds, then runs every test in one ctest run that ends with ctest's summary.
# The 32-bit Windows tests run where the host can run 32-bit programs, the 64-bit ones always
# (VORNA380_WINE64_ONLY=1 forces the 64-bit-only path).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
source tests/harness/wine-prefix.sh
source tests/harness/release-server.sh
jobs=$(nproc)

# The tests run in a network namespace of their own where the host allows one: their release
# server holds the origin's fixed port only there, so test runs of other work trees on the
# same machine neither collide with it nor wait for it.
if [ "${1:-}" = --tests-in-private-network ]; then
  ip link set lo up
  wine_detect >/dev/null
  private_network=1
else
  private_network=0
  bash scripts/setup.sh
  wine_detect
fi

build() {  # preset [cmake -D options...]
  local preset=$1
  shift
  cmake --preset "$preset" "$@" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
}
if [ "$private_network" = 0 ]; then
  build linux
  build linux-sanitize
  build linux-fuzz
  # Where 32-bit programs cannot run, the product is built and checked without its tests.
  build windows -DVORNA380_TESTS=$([ "$WINE32_WORKS" = 1 ] && echo ON || echo OFF)
  build windows-x64
  if unshare --net true 2>/dev/null; then
    exec unshare --net -- bash "$0" --tests-in-private-network
  fi
  echo "test: no private network namespace here; the release server uses the machine's loopback"
fi

# Whatever ends the run, failed tests included, stops Wine and the release server and takes the
# test CA out of the trust store again.
trap 'set +e; wine_stop_all; release_server_stop' EXIT
trap 'exit 130' INT TERM
# The server first, so that every Wine process already finds its CA in the trust store.
release_server_start
for flavour in $WINE_FLAVOURS; do wine_start "$flavour"; done
# One ctest run over all builds, so the output ends with one summary.
cmake -DROOT="$root" -P tests/harness/all-tests.cmake >/dev/null
ctest --test-dir build/all --output-on-failure -j "$jobs"
