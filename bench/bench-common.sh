# Timing helpers of the benchmark scripts (sourced).
bench_folder=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# best_time RUNS PREPARE COMMAND...: runs PREPARE, then COMMAND (output discarded), RUNS
# times; prints "SECONDS PEAK_KIB CPU_SECONDS": the shortest wall time of COMMAND, the highest
# resident set any of its processes reached in any run, and the processor time of that
# shortest run. COMMAND is a program, not a shell function
# (wrap pipelines in bash -c). A run that fails stops the benchmark.
best_time() {
  local count=$1 prepare=$2 best="" peak=0 cpu=0 out took kib used i
  shift 2
  for ((i = 0; i < count; i++)); do
    $prepare
    out=$(python3 "$bench_folder/measure.py" "$@") || { echo "$(basename "$0"): failed: $*" >&2; return 1; }
    read -r took kib used <<< "$out"
    if [ -z "$best" ] || (( $(echo "$took < $best" | bc -l) )); then best=$took cpu=$used; fi
    if ((kib > peak)); then peak=$kib; fi
  done
  printf '%.3f %d %.2f\n' "$best" "$peak" "$cpu"
}

# ratio A B: A / B with two decimals.
ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }

# record FIGURE SECONDS PEAK_KIB CPU_SECONDS PEER PEER_SECONDS PEER_PEAK_KIB PEER_CPU_SECONDS:
# one row of the table that bench/run.sh prints, appended to the file BENCH_TABLE names
# (nothing when it is unset). A processor time that is not known is "-".
record() {
  if [ -n "${BENCH_TABLE:-}" ]; then printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$@" >> "$BENCH_TABLE"; fi
}

# bench_client_release FOLDER FILES MEGABYTES: a development client of that many files and
# mebibytes in FOLDER/client and its release published in FOLDER/tree, made once and kept while
# the parameters match (FOLDER/stamp).
bench_client_release() {
  local folder=$1 files=$2 megabytes=$3 repo
  repo=$(cd "$bench_folder/.." && pwd)
  if [ -f "$folder/stamp" ] && [ "$(cat "$folder/stamp")" = "files=$files megabytes=$megabytes" ]; then return 0; fi
  echo "making and publishing the benchmark client ($files files, $megabytes MiB) in $folder"
  rm -rf "$folder"
  mkdir -p "$folder"
  python3 "$repo/tools/make-dev-client.py" "$folder/client" --files "$files" --megabytes "$megabytes" > /dev/null
  python3 "$repo/tools/publish-release.py" publish "$folder/client/Client" "$folder/tree" --version bench-1 \
    --compress-level 1 > /dev/null
  echo "files=$files megabytes=$megabytes" > "$folder/stamp"
}
