#!/usr/bin/env bash
# Times the integrity check of a large client against the usual command-line tools.
# Usage: bench-integrity.sh [LINUX_LAUNCHER [WINDOWS_LAUNCHER]]
#   LINUX_LAUNCHER    default build/linux/vorna380-launcher
#   WINDOWS_LAUNCHER  default build/windows/Vorna380-Launcher.exe (skipped when missing)
# Environment: BENCH_RUNS (default 3; the best run counts), BENCH_FILES (5000),
#   BENCH_MEGABYTES (1024), BENCH_PREFIX (Wine prefix, default build/bench-wineprefix).
# The client is made once under build/bench-client and reused while its parameters match.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
linux_exe=$(realpath -m "${1:-$repo/build/linux/vorna380-launcher}")
windows_exe=$(realpath -m "${2:-$repo/build/windows/Vorna380-Launcher.exe}")
runs=${BENCH_RUNS:-3}
files=${BENCH_FILES:-5000}
megabytes=${BENCH_MEGABYTES:-1024}
bench=$repo/build/bench-client
client=$bench/Client
list=$client/client-integrity.sha256
stamp=$bench/stamp

want="files=$files megabytes=$megabytes"
if [ ! -f "$stamp" ] || [ "$(head -1 "$stamp")" != "$want" ] || [ ! -f "$list" ]; then
  echo "making the benchmark client ($files files, $megabytes MiB) in $bench"
  rm -f "$stamp"
  digest=$(python3 "$here/make-dev-client.py" "$bench" --files "$files" --megabytes "$megabytes" | tail -1)
  printf '%s\n%s\n' "$want" "$digest" > "$stamp"
fi
digest=$(sed -n 2p "$stamp")
bytes=$(find "$client" -type f ! -name client-integrity.sha256 -printf '%s\n' | awk '{s += $1} END {print s}')
count=$(wc -l < "$list")
echo "client: $client"
echo "        $count files, $bytes bytes, list digest $digest"

# Every file once through the page cache, so that all runs read from memory.
find "$client" -type f -print0 | xargs -0 cat > /dev/null

# best_of COMMAND...: runs it $runs times, prints the shortest wall time in seconds.
best_of() {
  local best="" start end took
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s.%N)
    "$@" > /dev/null 2>&1 || { echo "bench-integrity: failed: $*" >&2; return 1; }
    end=$(date +%s.%N)
    took=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || (( $(echo "$took < $best" | bc -l) )); then best=$took; fi
  done
  printf '%.3f\n' "$best"
}

ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }

run_sha256sum() { (cd "$client" && sha256sum --quiet -c client-integrity.sha256); }
# All files in as few openssl processes as xargs allows (one for a client of this size).
run_openssl() {
  (cd "$client" && cut -c67- client-integrity.sha256 | tr '\n' '\0' | xargs -0 openssl dgst -sha256)
}
openssl_processes=$( (cd "$client" && cut -c67- client-integrity.sha256 | tr '\n' '\0' | xargs -0 sh -c 'echo x' _) | wc -l)

journal_dir=$(mktemp -d)
trap 'rm -rf "$journal_dir"' EXIT
# The journal goes beside the folder; keep it out of the client's parent by checking a link.
ln -s "$client" "$journal_dir/Client"

echo
echo "runs: best of $runs"
t_sha=$(best_of run_sha256sum)
t_ssl=$(best_of run_openssl)
echo "sha256sum -c                      ${t_sha} s"
echo "openssl dgst -sha256 (${openssl_processes} process)    ${t_ssl} s"

if [ -x "$linux_exe" ]; then
  t_linux=$(best_of "$linux_exe" --verify-integrity "$journal_dir/Client" "$digest")
  echo "Linux launcher --verify-integrity ${t_linux} s   launcher/openssl $(ratio "$t_linux" "$t_ssl")   launcher/sha256sum $(ratio "$t_linux" "$t_sha")"
else
  echo "Linux launcher: $linux_exe not found, skipped"
fi

if [ -f "$windows_exe" ]; then
  # shellcheck source=scripts/wine-prefix.sh
  source "$here/wine-prefix.sh"
  wine_start "${BENCH_PREFIX:-$repo/build/bench-wineprefix}"
  win_client=$(winepath -w "$journal_dir/Client")
  t_wine=$(best_of wine "$windows_exe" --verify-integrity "$win_client" "$digest")
  wine_stop
  echo "Windows launcher under Wine       ${t_wine} s   launcher/openssl $(ratio "$t_wine" "$t_ssl")   launcher/sha256sum $(ratio "$t_wine" "$t_sha")"
else
  echo "Windows launcher: $windows_exe not found, skipped"
fi
