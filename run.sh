#!/usr/bin/env bash
# Builds the program and runs it in its own working folder (run/), where it
# keeps log.txt and setting.ini. Without a display it runs under Xvfb.
set -euo pipefail
repo=$(cd "$(dirname "$0")" && pwd)
"$repo/scripts/setup.sh" "$repo/build" -DTAVIO_BUILD_TESTS=OFF

mkdir -p "$repo/run"
cd "$repo/run"
if [ -z "${DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
    exec xvfb-run -a "$repo/build/tavio-pc-tool" "$@"
fi
exec "$repo/build/tavio-pc-tool" "$@"
