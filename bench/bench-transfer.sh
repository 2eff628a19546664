#!/usr/bin/env bash
# Times the launcher's package download and extraction (the Linux port's two child-process jobs)
# against the curl and bsdtar programs alone, on the same local release server and the same
# package of about 1 GiB.
# Usage: bench-transfer.sh [LINUX_BUILD]   (default build/linux, which must be built)
# Environment: BENCH_RUNS (default 3; the best run counts), BENCH_MEGABYTES (1024).
# The release is made once under build/bench-transfer and reused while its size matches. The
# release server is started (and stopped afterwards) unless VORNA380_RELEASE_SERVER names one.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
source "$here/bench-common.sh"
build=$(realpath -m "${1:-$repo/build/linux}")
job=$build/tests/transfer/transfer_job
runs=${BENCH_RUNS:-3}
megabytes=${BENCH_MEGABYTES:-1024}
bench=$repo/build/bench-transfer
stamp=$bench/stamp
[ -x "$job" ] || { echo "bench-transfer: $job not found: build the linux preset first" >&2; exit 1; }

want="megabytes=$megabytes"
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want" ]; then
  echo "making the benchmark release ($megabytes MiB) in $bench"
  rm -f "$stamp"
  python3 "$repo/tools/make-dev-client.py" "$bench" --files 2000 --megabytes "$megabytes" > /dev/null
  python3 "$repo/tools/publish-release.py" publish "$bench/Client" "$bench/tree" --version bench \
    --package-path dl/Vorna380-client-bench.zip --min-package-bytes $((megabytes * 1024 * 1024)) --compress-level 1 > /dev/null
  echo "$want" > "$stamp"
fi
package_path=dl/Vorna380-client-bench.zip
size=$(stat -c %s "$bench/tree/$package_path")
entries=$(wc -l < "$bench/Client/client-integrity.sha256")

# shellcheck source=tests/harness/release-server.sh
source "$repo/tests/harness/release-server.sh"
scratch=$(mktemp -d "$repo/build/bench-transfer-run.XXXXXX")
cleanup() {
  rm -rf "$scratch"
  if [ -n "${started_server:-}" ]; then release_server_stop; fi
}
trap 'set +e; cleanup' EXIT
trap 'exit 130' INT TERM
if [ -z "${VORNA380_RELEASE_SERVER:-}" ]; then
  release_server_start
  started_server=1
fi
mkdir -p "$VORNA380_RELEASE_SERVER/www/dl"
ln -f "$bench/tree/$package_path" "$VORNA380_RELEASE_SERVER/www/$package_path"
url="https://$(sed -n 's/^origin_host=//p' "${VORNA380_RELEASE_PROFILE:-$repo/release/dev.profile}")/$package_path"
cat "$bench/tree/$package_path" > /dev/null  # from the page cache in every run

# The scratch folder emptied before every run.
empty_scratch() { rm -rf "$scratch/out" && mkdir -p "$scratch/out" && sync; }
best_of() { best_time "$runs" empty_scratch "$@"; }

echo "package: $url"
echo "         $size bytes, $entries files"
echo "runs: best of $runs"
r=$(best_of curl -sS --fail -o "$scratch/out/package.zip" "$url")
read -r t_curl k_curl c_curl <<< "$r"
r=$(best_of "$job" download "$url" "$scratch/out/package.zip")
read -r t_down k_down c_down <<< "$r"
# The same over a 2 Gbit/s link (the server's /link/ rate): there the network, not the
# processors, sets the pace, as for a player.
link_url=${url%/"$package_path"}/link/$package_path
r=$(best_of curl -sS --fail -o "$scratch/out/package.zip" "$link_url")
read -r t_curl_link k_curl_link c_curl_link <<< "$r"
r=$(best_of "$job" download "$link_url" "$scratch/out/package.zip")
read -r t_down_link k_down_link c_down_link <<< "$r"
r=$(best_of bsdtar -x -f "$bench/tree/$package_path" -C "$scratch/out")
read -r t_tar k_tar c_tar <<< "$r"
r=$(best_of "$job" extract "$bench/tree/$package_path" "$scratch/out/Client.new")
read -r t_extract k_extract c_extract <<< "$r"
printf 'download  curl alone %8.3f s %7d KiB   launcher %8.3f s %7d KiB   launcher/curl   %s (goal 1.10)\n' \
  "$t_curl" "$k_curl" "$t_down" "$k_down" "$(ratio "$t_down" "$t_curl")"
printf 'download over 2 Gbit/s: curl alone %8.3f s   launcher %8.3f s   launcher/curl   %s\n' \
  "$t_curl_link" "$t_down_link" "$(ratio "$t_down_link" "$t_curl_link")"
printf 'extract   bsdtar alone %6.3f s %7d KiB   launcher %8.3f s %7d KiB   launcher/bsdtar %s (goal 1.00)\n' \
  "$t_tar" "$k_tar" "$t_extract" "$k_extract" "$(ratio "$t_extract" "$t_tar")"
record "package download and digest (goal 1.10)" "$t_down" "$k_down" "$c_down" "curl alone" "$t_curl" "$k_curl" "$c_curl"
record "package download and digest, 2 Gbit/s link" "$t_down_link" "$k_down_link" "$c_down_link" "curl alone" \
  "$t_curl_link" "$k_curl_link" "$c_curl_link"
record "package extraction (goal 1.00)" "$t_extract" "$k_extract" "$c_extract" "bsdtar -x alone" "$t_tar" "$k_tar" \
  "$c_tar"
