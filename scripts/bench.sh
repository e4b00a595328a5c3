#!/usr/bin/env bash
# Builds the benchmarks in build-bench (a Release build without the tests) and
# runs them all, printing their tables. Exits non-zero when a target was missed
# (1) or a benchmark could not run (2).
# Usage: scripts/bench.sh [extra arguments for every benchmark, e.g. --rounds N]
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$repo/build-bench"

"$repo/scripts/setup.sh" "$build_dir" -DTAVIO_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release

echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
for bench in tavio-bench-link tavio-bench-transfer tavio-bench-command tavio-bench-wire; do
    echo
    echo "== $bench"
    rc=0
    "$build_dir/$bench" "$@" || rc=$?
    [ "$rc" -le "$status" ] || status=$rc
done
exit "$status"
