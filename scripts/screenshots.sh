#!/usr/bin/env bash
# Builds the program (in build/, without the tests) and saves the window at
# each step of an upgrade of a simulated device, in Chinese and in English,
# to docs/screenshots/ (or the folder given). Runs under Xvfb, so it needs no
# display of its own.
# Usage: scripts/screenshots.sh [OUTDIR]
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
out_dir=${1:-$repo/docs/screenshots}

"$repo/scripts/setup.sh" "$repo/build" -DTAVIO_BUILD_TESTS=OFF
mkdir -p "$out_dir"
xvfb-run -a -s "-screen 0 1280x800x24" "$repo/build/tavio-screenshots" "$out_dir"
