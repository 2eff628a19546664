#!/usr/bin/env bash
# Update and repair by the file against the full path, on a large client from the local release
# server: bytes of the package fetched and wall time of the worker for
#   a release that changes 1 % of the files (client of the release before installed), and
#   a client with one damaged file,
# against a first installation of the same release (the full path: download, digest,
# extraction, check). The goal: bytes fetched at most 1.1 x the compressed size of the changed
# entries plus the central directory, time at most 0.2 x the full path.
# Usage: bench-file-update.sh [BUILD_DIR]   (default build/linux; needs its install_bench)
# Environment: BENCH_FILES (default 5000), BENCH_MEGABYTES (1024). Run as root: the release
# server adds its throwaway CA to the system trust store. Both releases are made once under
# build/bench-file-update and reused while their parameters match.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
source "$here/bench-common.sh"
build=$(realpath -m "${1:-$repo/build/linux}")
runner=$build/tests/install/install_bench
files=${BENCH_FILES:-5000}
megabytes=${BENCH_MEGABYTES:-1024}
bench=$repo/build/bench-file-update
stamp=$bench/stamp
[ -x "$runner" ] || { echo "bench-file-update: $runner not built" >&2; exit 1; }

want="files=$files megabytes=$megabytes"
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want" ]; then
  echo "making and publishing the two benchmark releases ($files files, $megabytes MiB) in $bench"
  rm -rf "$bench"
  mkdir -p "$bench"
  python3 "$repo/tools/make-dev-client.py" "$bench/client" --files "$files" --megabytes "$megabytes" > /dev/null
  python3 "$repo/tools/publish-release.py" publish "$bench/client/Client" "$bench/one" --version bench-1 \
    --compress-level 1 > /dev/null
  # The next release: 1 % of the listed files rewritten (never the individually published ones).
  cp -al "$bench/client/Client" "$bench/next"
  python3 - "$bench/next" <<'PY'
import hashlib, os, sys
client = sys.argv[1]
fixed = {"Moorbridge.exe", "Moorbridge_d.exe", "Vorna380.LauncherUi.dll", "data/common/Skills.k5o",
         "data/common/data.meta", "ui/Orlune_Common/Common.swf", "ui/Orlune_Taxi/Taxi.swf",
         "ui/Orlune_ContextMenu/ContextMenu.swf", "Tarvo.exe"}
path = os.path.join(client, "client-integrity.sha256")
lines = open(path, encoding="utf-8").read().splitlines()
candidates = [i for i, line in enumerate(lines) if line[66:] not in fixed]
step = max(1, len(candidates) // max(1, len(lines) // 100))
changed = []
for i in candidates[::step][: len(lines) // 100]:
    relative = lines[i][66:]
    full = os.path.join(client, *relative.split("/"))
    data = open(full, "rb").read()
    os.remove(full)  # a hard link to the release before
    data = data[: len(data) // 2] + b"changed for the next release\n" + data[len(data) // 2 :]
    open(full, "wb").write(data)
    lines[i] = "%s  %s" % (hashlib.sha256(data).hexdigest(), relative)
    changed.append(relative)
os.remove(path)
open(path, "w", encoding="utf-8").write("\n".join(lines) + "\n")
open(os.path.join(os.path.dirname(client), "changed.txt"), "w", encoding="utf-8").write("\n".join(changed) + "\n")
PY
  python3 "$repo/tools/publish-release.py" publish "$bench/next" "$bench/two" --version bench-1 \
    --compress-level 1 > /dev/null
  echo "$want" > "$stamp"
fi
package_path() { sed -n 's|^package_url=https://[^/]*/||p' "$1/dl/Vorna380.release.manifest"; }

# shellcheck source=tests/harness/release-server.sh
source "$repo/tests/harness/release-server.sh"
work=$(mktemp -d)
cleanup() {
  rm -rf "$work"
  release_server_stop > /dev/null 2>&1 || true
}
trap cleanup EXIT
release_server_start > /dev/null
serve() {
  rm -rf "$VORNA380_RELEASE_SERVER/www"
  cp -al "$bench/$1" "$VORNA380_RELEASE_SERVER/www"
  cat "$bench/$1/$(package_path "$bench/$1")" > /dev/null  # read from the page cache by every run
}
log=$VORNA380_RELEASE_SERVER/logs/access.log
seconds() { date +%s.%N; }
# run NAME ROOT: the worker once; sets t_run (seconds) and fetched (package bytes served).
run() {
  local before start
  before=$(wc -l < "$log")
  start=$(seconds)
  "$runner" "$2" || { echo "bench-file-update: $1 did not reach its ready ending" >&2; tail -20 "$2/launcher.log" >&2; exit 1; }
  t_run=$(echo "$(seconds) - $start" | bc -l)
  sleep 0.3
  fetched=$(tail -n +"$((before + 1))" "$log" | awk '/\.zip HTTP/ { sum += $6; n += 1 } END { printf "%d %d", sum, n }')
  if grep -q "Echec de la mise a jour par fichier" "$2/launcher.log"; then
    echo "  ($1: $(grep "Echec de la mise a jour par fichier" "$2/launcher.log" | tail -1))"
  fi
}
# phases LOG FROM: the time between the status lines the run journalled from line FROM on
# (journal time stamps, 1 s resolution).
phases() {
  python3 - "$1" "$2" <<'PY'
import datetime, sys
marks = []
for number, raw in enumerate(open(sys.argv[1], encoding="utf-8"), 1):
    stamp, _, message = raw.rstrip("\r\n").partition("] ")
    if number >= int(sys.argv[2]) and not message.startswith("Verification de securite :") and (
            message.endswith("...") or message.endswith("Pret a jouer.")):
        marks.append((datetime.datetime.strptime(stamp[1:], "%Y-%m-%d %H:%M:%S"), message))
for (when, message), (after, _) in zip(marks, marks[1:]):
    print("    %3d s  %s" % ((after - when).total_seconds(), message))
PY
}
# goal PACKAGE NAMES_FILE: compressed bytes of the named entries (local records) plus the
# central directory.
goal() {
  python3 - "$1" "$2" <<'PY'
import sys, zipfile
archive = zipfile.ZipFile(sys.argv[1])
names = set(open(sys.argv[2], encoding="utf-8").read().split("\n")) - {""}
infos = sorted(archive.infolist(), key=lambda info: info.header_offset)
directory = archive.fp.seek(0, 2) - archive.start_dir
total = 0
for info in infos:
    if info.filename in names:
        total += 30 + len(info.filename.encode()) + len(info.extra) + info.compress_size
print(total, directory)
PY
}

echo "package: $(stat -c %s "$bench/two/$(package_path "$bench/two")") bytes, $(wc -l < "$bench/next/client-integrity.sha256") files"
serve one
run "first installation of the release before" "$work/root"
serve two
run "full path (first installation of the release)" "$work/full"
t_full=$t_run
read -r full_bytes full_requests <<< "$fetched"
printf 'full path                 %8.2f s  %12d bytes in %d requests\n' "$t_full" "$full_bytes" "$full_requests"

from=$(($(wc -l < "$work/root/launcher.log") + 1))
run "update by the file" "$work/root"
read -r bytes requests <<< "$fetched"
read -r entries directory <<< "$(goal "$bench/two/$(package_path "$bench/two")" "$bench/changed.txt")"
printf '1 %% changed (%d files)   %8.2f s  %12d bytes in %d requests; changed entries %d + directory %d bytes\n' \
  "$(wc -l < "$bench/changed.txt")" "$t_run" "$bytes" "$requests" "$entries" "$directory"
echo "  bytes / (entries + directory): $(ratio "$bytes" "$((entries + directory))"), time / full path: $(ratio "$t_run" "$t_full")"
record "update by the file, 1 % changed (goal 0.20)" "$t_run" 0 - "full path" "$t_full" 0 -
phases "$work/root/launcher.log" "$from"

victim=$(sed -n '2500p' "$bench/next/client-integrity.sha256" | cut -c67-)
rm -f "$work/root/Client/$victim"
printf 'damaged\n' > "$work/root/Client/$victim"
printf '%s\n' "$victim" > "$work/victim.txt"
from=$(($(wc -l < "$work/root/launcher.log") + 1))
run "repair of one damaged file" "$work/root"
read -r bytes requests <<< "$fetched"
read -r entries directory <<< "$(goal "$bench/two/$(package_path "$bench/two")" "$work/victim.txt")"
printf 'one damaged file          %8.2f s  %12d bytes in %d requests; its entry %d + directory %d bytes\n' \
  "$t_run" "$bytes" "$requests" "$entries" "$directory"
echo "  bytes / (entry + directory): $(ratio "$bytes" "$((entries + directory))"), time / full path: $(ratio "$t_run" "$t_full")"
record "repair of one damaged file (goal 0.20)" "$t_run" 0 - "full path" "$t_full" 0 -
phases "$work/root/launcher.log" "$from"
