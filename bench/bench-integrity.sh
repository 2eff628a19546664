#!/usr/bin/env bash
# Times the integrity check of a large client against the usual command-line tools, and the
# launcher's pool of hashing threads against one thread.
# Usage: bench-integrity.sh [LINUX_LAUNCHER [WINDOWS_LAUNCHER]]
#   LINUX_LAUNCHER    default build/linux/vorna380-launcher
#   WINDOWS_LAUNCHER  default build/windows-x64/Vorna380-Launcher.exe, run under Wine (skipped
#                     when missing; a PE32 one needs a host that runs 32-bit programs)
# Environment: BENCH_RUNS (default 3; the best run counts), BENCH_FILES (5000),
#   BENCH_MEGABYTES (1024), BENCH_COLD (1: also time each tool with the page cache dropped
#   before every run, where this host allows it; 0: warm only), BENCH_WINE_RUNS (1),
#   BENCH_WINDOWS_BEFORE (an older Windows launcher, timed on the same client for comparison).
# One thread: the launcher sizes its pool by the processors it may use, so it is run pinned
# to one processor with taskset, which makes it hash on its own thread.
# The client is made once under build/bench-client and reused while its parameters match.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
source "$here/bench-common.sh"
linux_exe=$(realpath -m "${1:-$repo/build/linux/vorna380-launcher}")
windows_exe=$(realpath -m "${2:-$repo/build/windows-x64/Vorna380-Launcher.exe}")
runs=${BENCH_RUNS:-3}
wine_runs=${BENCH_WINE_RUNS:-1}
cold=${BENCH_COLD:-1}
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
  digest=$(python3 "$repo/tools/make-dev-client.py" "$bench" --files "$files" --megabytes "$megabytes" | tail -1)
  printf '%s\n%s\n' "$want" "$digest" > "$stamp"
fi
digest=$(sed -n 2p "$stamp")
bytes=$(find "$client" -type f ! -name client-integrity.sha256 -printf '%s\n' | awk '{s += $1} END {print s}')
count=$(wc -l < "$list")
echo "client: $client"
echo "        $count files, $bytes bytes, list digest $digest; $(nproc) processors"

warm_up() { find "$client" -type f -print0 | xargs -0 cat > /dev/null; }
drop_caches() { sync && echo 3 > /proc/sys/vm/drop_caches; } 2>/dev/null
if [ "$cold" = 1 ] && ! drop_caches; then
  echo "cold cache: this host does not let the page cache be dropped; warm runs only"
  cold=0
fi

# time_of MODE RUNS COMMAND...: "SECONDS PEAK_KIB" of the best of RUNS runs, each with the page
# cache warm or dropped (MODE warm|cold).
time_of() {
  local prepare=warm_up
  [ "$1" = cold ] && prepare=drop_caches
  shift
  best_time "$1" "$prepare" "${@:2}"
}

run_sha256sum=(bash -c 'cd "$1" && sha256sum --quiet -c client-integrity.sha256' _ "$client")
# All files in as few openssl processes as xargs allows (one for a client of this size).
run_openssl=(bash -c 'cd "$1" && cut -c67- client-integrity.sha256 | tr "\n" "\0" | xargs -0 openssl dgst -sha256'
  _ "$client")
openssl_processes=$( (cd "$client" && cut -c67- client-integrity.sha256 | tr '\n' '\0' | xargs -0 sh -c 'echo x' _) | wc -l)

journal_dir=$(mktemp -d)
trap 'rm -rf "$journal_dir"' EXIT
# The journal goes beside the folder named on the command line; that folder is reached through
# a link here so that the journal stays out of the client's parent. The link is the trusted
# folder itself, which the launcher follows.
ln -s "$client" "$journal_dir/Client"

modes=warm
[ "$cold" = 1 ] && modes="warm cold"
for mode in $modes; do
  echo
  echo "$mode cache, best of $runs"
  r=$(time_of "$mode" "$runs" "${run_sha256sum[@]}")
  read -r t_sha k_sha c_sha <<< "$r"
  r=$(time_of "$mode" "$runs" "${run_openssl[@]}")
  read -r t_ssl k_ssl c_ssl <<< "$r"
  [ "$mode" = warm ] && t_ssl_warm=$t_ssl && k_ssl_warm=$k_ssl && c_ssl_warm=$c_ssl
  echo "  sha256sum -c                          ${t_sha} s   ${k_sha} KiB"
  echo "  openssl dgst -sha256 (${openssl_processes} process)        ${t_ssl} s   ${k_ssl} KiB"
  if [ -x "$linux_exe" ]; then
    r=$(time_of "$mode" "$runs" taskset -c 0 "$linux_exe" --verify-integrity "$journal_dir/Client" "$digest")
    read -r t_one k_one c_one <<< "$r"
    r=$(time_of "$mode" "$runs" "$linux_exe" --verify-integrity "$journal_dir/Client" "$digest")
    read -r t_pool k_pool c_pool <<< "$r"
    echo "  Linux launcher, one thread            ${t_one} s   ${k_one} KiB   /openssl $(ratio "$t_one" "$t_ssl")   /sha256sum $(ratio "$t_one" "$t_sha")"
    echo "  Linux launcher, pool                  ${t_pool} s   ${k_pool} KiB   /openssl $(ratio "$t_pool" "$t_ssl")   /sha256sum $(ratio "$t_pool" "$t_sha")   /one thread $(ratio "$t_pool" "$t_one")"
    record "integrity check, $mode (goal 0.45)" "$t_pool" "$k_pool" "$c_pool" "openssl dgst, one process" "$t_ssl" \
      "$k_ssl" "$c_ssl"
    record "integrity check, $mode" "$t_pool" "$k_pool" "$c_pool" "sha256sum -c" "$t_sha" "$k_sha" "$c_sha"
    record "integrity check, one thread, $mode" "$t_one" "$k_one" "$c_one" "openssl dgst, one process" "$t_ssl" \
      "$k_ssl" "$c_ssl"
  else
    echo "  Linux launcher: $linux_exe not found, skipped"
  fi
done

if [ ! -f "$windows_exe" ]; then
  echo
  echo "Windows launcher: $windows_exe not found, skipped"
  exit 0
fi
# shellcheck source=tests/harness/wine-prefix.sh
source "$repo/tests/harness/wine-prefix.sh"
flavour=win64
if ! file "$windows_exe" | grep -q 'PE32+'; then
  wine_detect > /dev/null
  if [ "$WINE32_WORKS" != 1 ]; then
    echo "Windows launcher: $windows_exe is 32-bit and this host cannot run 32-bit programs, skipped"
    exit 0
  fi
  flavour=win32
fi
trap 'wine_stop_all; rm -rf "$journal_dir"' EXIT
wine_start "$flavour"
win_client=$("$repo/tests/harness/wine-run.sh" "$flavour" winepath -w "$journal_dir/Client" 2>/dev/null | tr -d '\r')
echo
echo "Windows launcher under Wine ($flavour), warm cache, best of $wine_runs"
run_windows=("$repo/tests/harness/wine-run.sh" "$flavour" "$windows_exe" --verify-integrity "$win_client" "$digest")
r=$(time_of warm "$wine_runs" "${run_windows[@]}")
read -r t_wine k_wine c_wine <<< "$r"
r=$(time_of warm "$wine_runs" taskset -c 0 "${run_windows[@]}")
read -r t_wine_one k_wine_one _ <<< "$r"
echo "  pool                                  ${t_wine} s   /openssl (Linux, warm) $(ratio "$t_wine" "$t_ssl_warm")"
echo "  one processor                         ${t_wine_one} s   /one processor $(ratio "$t_wine" "$t_wine_one")"
record "integrity check, Windows under Wine, warm" "$t_wine" "$k_wine" "$c_wine" "openssl dgst (Linux), warm" \
  "$t_ssl_warm" "$k_ssl_warm" "$c_ssl_warm"
if [ -n "${BENCH_WINDOWS_BEFORE:-}" ]; then
  r=$(time_of warm "$wine_runs" "$repo/tests/harness/wine-run.sh" "$flavour" \
    "$(realpath -m "$BENCH_WINDOWS_BEFORE")" --verify-integrity "$win_client" "$digest")
  read -r t_before _ _ <<< "$r"
  echo "  before: $BENCH_WINDOWS_BEFORE"
  echo "                                        ${t_before} s   pool/before $(ratio "$t_wine" "$t_before")"
fi
