#!/usr/bin/env bash
# Runs every benchmark and prints one table: each figure beside its peer from the same run, the
# ratio, the highest resident set of each and the processor time (user and system, all
# processes) of each; on a machine shared with other work the processor times compare more
# steadily than the wall times.
# Usage: run.sh   (as root; the launchers built with the linux preset, windows-x64 for Wine)
# Environment: BENCH_ONLY (default "integrity transfer install file-update resume startup": the benchmarks to run,
#   in that order), and what each benchmark reads (BENCH_RUNS, BENCH_COLD, ...). Each
#   benchmark's own output goes to build/bench-logs/NAME.log.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
logs=$repo/build/bench-logs
mkdir -p "$logs"
export BENCH_TABLE=$logs/table.tsv
: > "$BENCH_TABLE"

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) processors; runs ${BENCH_RUNS:-3}"
failed=0
for name in ${BENCH_ONLY:-integrity transfer install file-update resume startup}; do
  echo "bench-$name ..."
  if ! bash "$here/bench-$name.sh" > "$logs/$name.log" 2>&1; then
    echo "  failed, see $logs/$name.log"
    failed=1
  fi
done
echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"
echo
python3 - "$BENCH_TABLE" <<'PY'
import sys

rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1], encoding="utf-8") if line.strip()]
head = ("figure", "s", "peak MiB", "cpu s", "peer", "s", "peak MiB", "cpu s", "ratio", "cpu ratio")
table = [head]
for figure, seconds, kib, cpu, peer, peer_seconds, peer_kib, peer_cpu in rows:
    ratio = float(seconds) / float(peer_seconds) if float(peer_seconds) > 0 else float("nan")
    known = cpu != "-" and peer_cpu != "-" and float(peer_cpu) > 0
    table.append((figure, "%.3f" % float(seconds), "%.0f" % (int(kib) / 1024), cpu, peer, "%.3f" % float(peer_seconds),
                  "%.0f" % (int(peer_kib) / 1024), peer_cpu, "%.2f" % ratio,
                  "%.2f" % (float(cpu) / float(peer_cpu)) if known else "-"))
widths = [max(len(row[i]) for row in table) for i in range(len(head))]
for row in table:
    print("  ".join(cell.ljust(widths[i]) if i in (0, 4) else cell.rjust(widths[i]) for i, cell in enumerate(row)))
PY
exit $failed
