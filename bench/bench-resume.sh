#!/usr/bin/env bash
# Downloads that stop, and a download through a caching edge, on the loopback:
#   kill    the worker killed at 90 % of the package, then started again: bytes the second start
#           fetches (aim: at most 0.12 x the package) and its time to ready against a first
#           installation (aim: at most 0.6 x)
#   cut     the release server dropped for 10 s in the middle of the package and brought back:
#           the same run ends ready, bytes fetched in all (aim: at most 1.05 x the package)
#   edge    a first installation through an edge whose cache holds the release, against the
#           direct one (aim: within 1.1 x)
# Usage: bench-resume.sh [BUILD_DIR]   (default build/linux; needs its install_bench)
# Environment: BENCH_FILES (default 5000), BENCH_MEGABYTES (1024); the client and release are
# bench-install.sh's (build/bench-install). Run as root, best in a network
# namespace of its own (unshare --net): the release server adds its CA to the trust store and
# the cut stops and starts its nginx.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
source "$here/bench-common.sh"
build=$(realpath -m "${1:-$repo/build/linux}")
runner=$build/tests/install/install_bench
files=${BENCH_FILES:-5000}
megabytes=${BENCH_MEGABYTES:-1024}
bench=$repo/build/bench-install  # the same client and release as bench-install.sh
[ -x "$runner" ] || { echo "bench-resume: $runner not built (cmake --build $build --target install_bench)" >&2; exit 1; }

bench_client_release "$bench" "$files" "$megabytes"
manifest=$bench/tree/dl/Vorna380.release.manifest
package_url=$(sed -n 's/^package_url=//p' "$manifest")
package_path=/${package_url#https://*/}
package_size=$(sed -n 's/^package_size=//p' "$manifest")

# shellcheck source=tests/harness/release-server.sh
source "$repo/tests/harness/release-server.sh"
work=$(mktemp -d)
cleanup() {
  [ -n "${worker:-}" ] && kill -KILL -- "-$worker" 2>/dev/null
  rm -rf "$work"
  release_server_stop > /dev/null 2>&1 || true
}
trap cleanup EXIT
release_server_start > /dev/null
server=$VORNA380_RELEASE_SERVER
rm -rf "$server/www"
cp -al "$bench/tree" "$server/www"
cat "$server/www$package_path" > /dev/null
origin=$(sed -n 's/^origin_host=//p' "$repo/release/dev.profile")
port=${origin##*:}

# Package bytes the origin sent since the access log had $1 bytes.
package_bytes() {
  tail -c +"$(($1 + 1))" "$server/logs/access.log" |
    awk -v path="$package_path" '$3 == path { sum += $6 } END { printf "%d", sum }'
}
log_size() { stat -c %s "$server/logs/access.log"; }
# Starts the worker on root $1 in a process group of its own; its PID in $worker.
start_worker() {
  setsid "$runner" "$1" > /dev/null 2>&1 &
  worker=$!
}
# Waits until the partial package in root $1 holds $2 bytes.
wait_for_bytes() {
  local size=0
  while ((size < $2)); do
    kill -0 "$worker" 2>/dev/null || { echo "bench-resume: the worker ended early" >&2; cat "$1/launcher.log" >&2; exit 1; }
    size=$(stat -c %s "$1/Vorna380.package.zip" 2>/dev/null || echo 0)
    sleep 0.05
  done
}

echo "package: $package_size bytes, $(wc -l < "$bench/client/Client/client-integrity.sha256") files"
measured=$(python3 "$here/measure.py" "$runner" "$work/first") ||
  { echo "bench-resume: the first installation failed" >&2; cat "$work/first/launcher.log" >&2; exit 1; }
read -r t_first k_first c_first <<< "$measured"
printf 'first installation                   %8.2f s\n' "$t_first"

# kill: at 90 %, the whole process group at once, as a crash or a power cut would.
start_worker "$work/kill"
wait_for_bytes "$work/kill" $((package_size * 9 / 10))
kill -KILL -- "-$worker"
wait "$worker" 2>/dev/null || true
worker=""
before=$(log_size)
measured=$(python3 "$here/measure.py" "$runner" "$work/kill") ||
  { echo "bench-resume: the start after the kill failed" >&2; cat "$work/kill/launcher.log" >&2; exit 1; }
read -r t_kill k_kill c_kill <<< "$measured"
fetched=$(package_bytes "$before")
printf 'start after a kill at 90 %%          %8.2f s   %d package bytes fetched: %s x the package, time %s x the first\n' \
  "$t_kill" "$fetched" "$(ratio "$fetched" "$package_size")" "$(ratio "$t_kill" "$t_first")"
echo "  its steps (journal, 1 s resolution):"
grep -E "\] (Reprise|Verification SHA-256|Extraction securisee|Verification de tous|Installation terminee)" \
  "$work/kill/launcher.log" | tail -n 5 | sed 's/^/    /'
record "start after a kill at 90 % of the package" "$t_kill" "$k_kill" "$c_kill" "first installation" "$t_first" \
  "$k_first" "$c_first"

# cut: nginx stopped at once (its connections closed) at half the package, started 10 s later.
before=$(log_size)
start_worker "$work/cut"
wait_for_bytes "$work/cut" $((package_size / 2))
kill -TERM "$(cat "$server/server.pid")"
sleep 10
nginx -p "$server" -c "$server/nginx.conf" -e "$server/logs/error.log" </dev/null &
echo $! > "$server/server.pid"
RELEASE_SERVER_PID=$!
cut_status=0
wait "$worker" || cut_status=$?
worker=""
# nginx stopped at once writes no line for the request it cut: the bytes that request brought
# are the ones the first resume starts after.
cut_bytes=$(sed -n 's/.*Reprise du telechargement du package apres \([0-9]*\) octets.*/\1/p' "$work/cut/launcher.log" | head -n 1)
fetched=$(($(package_bytes "$before") + ${cut_bytes:-0}))
grep -q "Installation terminee" "$work/cut/launcher.log" || cut_status=1
printf 'network cut for 10 s                 ended %s, %d package bytes fetched in all: %s x the package\n' \
  "$([ "$cut_status" = 0 ] && echo ready || echo "in error ($cut_status)")" "$fetched" "$(ratio "$fetched" "$package_size")"
grep -E "interrompu|Reprise" "$work/cut/launcher.log" | sed 's/^/    /'

# edge: the edge's cache filled by one download of each release file, then a first installation
# through it.
edge=https://localhost:$((port + 5))/
for file in dl/Vorna380.release.manifest dl/Vorna380.release.manifest.sig "${package_path#/}"; do
  curl -sSf -o /dev/null "$edge$file"
done
measured=$(python3 "$here/measure.py" "$runner" "$work/edge" "$edge") ||
  { echo "bench-resume: the installation through the edge failed" >&2; cat "$work/edge/launcher.log" >&2; exit 1; }
read -r t_edge k_edge c_edge <<< "$measured"
printf 'first installation through an edge   %8.2f s: %s x the direct one\n' "$t_edge" "$(ratio "$t_edge" "$t_first")"
record "first installation through a warm edge" "$t_edge" "$k_edge" "$c_edge" "first installation, direct" "$t_first" \
  "$k_first" "$c_first"
