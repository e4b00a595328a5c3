#!/usr/bin/env bash
# Checks the README's run command: it must start the simulated device and the
# program, the program must see the device (its presence log line), and both
# must stop when the program is closed. Uses an existing build folder.
# Usage: scripts/check-run.sh BUILD_DIR
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
run_dir=$(mktemp -d "${TMPDIR:-/tmp}/tavio-run.XXXXXX")
trap 'rm -rf "$run_dir"' EXIT

TAVIO_BUILD_DIR=$build TAVIO_RUN_DIR=$run_dir QT_QPA_PLATFORM=offscreen "$repo/run.sh" &
runner=$!

found=0
for _ in $(seq 150); do
    if grep -q "device detected, vendor identifier 7536" "$run_dir/log.txt" 2>/dev/null; then
        found=1
        break
    fi
    sleep 0.1
done
program=$(pgrep -f "$build/tavio-pc-tool --port $run_dir/device" || true)
simulator=$(pgrep -f "$build/tavio-device-sim --link $run_dir/device" || true)
[ -n "$program" ] && kill "$program"
wait "$runner" || true
sleep 0.3
if pgrep -f "tavio-device-sim --link $run_dir/device" >/dev/null; then
    echo "run check: the simulator outlived the program" >&2
    exit 1
fi
if [ "$found" -ne 1 ] || [ -z "$program" ] || [ -z "$simulator" ]; then
    echo "run check: the program did not find the simulated device" >&2
    exit 1
fi
echo "run check: the program found the simulated device; both stopped"
