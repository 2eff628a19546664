#!/usr/bin/env bash
# Times a first installation (nothing on disk) of a large client from the local release server,
# per phase from the journal and in total, against the same work done by hand with curl,
# sha256sum and bsdtar.
# Usage: bench-install.sh [BUILD_DIR]   (default build/linux; needs its install_bench)
# Environment: BENCH_FILES (default 5000), BENCH_MEGABYTES (1024). Run as root: the release
# server adds its throwaway CA to the system trust store. The client and its published release
# are made once under build/bench-install and reused while their parameters match.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
source "$here/bench-common.sh"
build=$(realpath -m "${1:-$repo/build/linux}")
runner=$build/tests/install/install_bench
files=${BENCH_FILES:-5000}
megabytes=${BENCH_MEGABYTES:-1024}
bench=$repo/build/bench-install
[ -x "$runner" ] || { echo "bench-install: $runner not built (cmake --build $build --target install_bench)" >&2; exit 1; }

bench_client_release "$bench" "$files" "$megabytes"
manifest=$bench/tree/dl/Vorna380.release.manifest
package_url=$(sed -n 's/^package_url=//p' "$manifest")
package_size=$(sed -n 's/^package_size=//p' "$manifest")
package_sha256=$(sed -n 's/^package_sha256=//p' "$manifest")

# shellcheck source=tests/harness/release-server.sh
source "$repo/tests/harness/release-server.sh"
work=$(mktemp -d)
cleanup() {
  rm -rf "$work"
  release_server_stop > /dev/null 2>&1 || true
}
trap cleanup EXIT
release_server_start > /dev/null
rm -rf "$VORNA380_RELEASE_SERVER/www"
cp -al "$bench/tree" "$VORNA380_RELEASE_SERVER/www"
# The package once through the page cache, so that both runs read it from memory.
cat "$bench/tree/${package_url#https://*/}" > /dev/null

echo "package: $package_size bytes, $(wc -l < "$bench/client/Client/client-integrity.sha256") files"
measured=$(python3 "$here/measure.py" "$runner" "$work/root") ||
  { echo "bench-install: the worker did not reach its ready ending" >&2; cat "$work/root/launcher.log" >&2; exit 1; }
read -r t_worker k_worker c_worker <<< "$measured"

# Phases from the journal: each status line starts a phase that ends at the next line.
echo
echo "worker phases (journal time stamps, 1 s resolution):"
python3 - "$work/root/launcher.log" <<'PY'
import datetime
import sys

phases = ["Verification de la release officielle", "Controle complet", "Recherche d'un client",
          "Recherche d'un package", "Telechargement automatique", "Verification SHA-256",
          "Extraction securisee", "Verification de tous les fichiers", "Installation de la release",
          "Installation terminee"]
marks = []
for raw in open(sys.argv[1], encoding="utf-8"):
    stamp, _, message = raw.rstrip("\r\n").partition("] ")
    if any(message.startswith(p) for p in phases):
        marks.append((datetime.datetime.strptime(stamp[1:], "%Y-%m-%d %H:%M:%S"), message))
for (when, message), (after, _) in zip(marks, marks[1:]):
    print("  %4d s  %s" % ((after - when).total_seconds(), message))
PY
printf 'worker, total                   %8.2f s   %d KiB\n' "$t_worker" "$k_worker"

mkdir -p "$work/hand"
ca=$VORNA380_RELEASE_SERVER/tls/ca.crt
by_hand='curl -sSf --cacert "$1" -o "$2/package.zip" "$3" &&
  echo "$4  $2/package.zip" | sha256sum --quiet -c &&
  mkdir "$2/Client" && bsdtar -xf "$2/package.zip" -C "$2/Client" &&
  (cd "$2/Client" && sha256sum --quiet -c client-integrity.sha256)'
measured=$(python3 "$here/measure.py" bash -c "$by_hand" _ "$ca" "$work/hand" "$package_url" "$package_sha256")
read -r t_hand k_hand c_hand <<< "$measured"
printf 'curl + sha256sum + bsdtar + sha256sum -c  %8.2f s   %d KiB\n' "$t_hand" "$k_hand"
echo "worker / by hand: $(ratio "$t_worker" "$t_hand")"
record "first installation" "$t_worker" "$k_worker" "$c_worker" "curl, sha256sum, bsdtar, sha256sum -c" "$t_hand" \
  "$k_hand" "$c_hand"
