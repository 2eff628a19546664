# Timing helpers of the benchmark scripts (sourced).

# best_time RUNS PREPARE COMMAND...: runs PREPARE, then COMMAND (output discarded), RUNS
# times; prints the shortest wall time of COMMAND in seconds. A run that fails stops the
# benchmark.
best_time() {
  local count=$1 prepare=$2 best="" start end took i
  shift 2
  for ((i = 0; i < count; i++)); do
    $prepare
    start=$(date +%s.%N)
    "$@" > /dev/null 2>&1 || { echo "$(basename "$0"): failed: $*" >&2; return 1; }
    end=$(date +%s.%N)
    took=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || (( $(echo "$took < $best" | bc -l) )); then best=$took; fi
  done
  printf '%.3f\n' "$best"
}

# ratio A B: A / B with two decimals.
ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }
