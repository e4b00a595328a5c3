#!/usr/bin/env bash
# Builds into build/ only what it starts (the program, and the simulator and
# the package tool when its mode needs them) and runs the program in its own
# working folder (run/), where it keeps log.txt and setting.ini. Without a
# display it runs under Xvfb.
#
#   ./run.sh           a simulated air unit on the single-image line, with
#                      sample firmware files in run/samples/
#   ./run.sh --multi   a simulated unit of the multi-image line (board 7542)
#                      with a sample package
#   ./run.sh --real    no simulator: the program looks for a real device
#
# Any further arguments go to the program.
set -euo pipefail
repo=$(cd "$(dirname "$0")" && pwd)
mode=single
case "${1:-}" in
    --multi) mode=multi; shift ;;
    --real) mode=real; shift ;;
esac

# TAVIO_BUILD_DIR names an existing build to use instead (the test command's
# check of this script); TAVIO_RUN_DIR another working folder.
build=${TAVIO_BUILD_DIR:-}
if [ -z "$build" ]; then
    build="$repo/build"
    # Only what this mode starts: the tests, benchmarks and screenshot tool
    # would cost a first run minutes for nothing.
    targets=(tavio-pc-tool)
    case "$mode" in
        single) targets+=(tavio-device-sim) ;;
        multi) targets+=(tavio-device-sim tavio-make-package) ;;
    esac
    TAVIO_BUILD_TARGETS="${targets[*]}" "$repo/scripts/setup.sh" "$build" \
        -DTAVIO_BUILD_TESTS=OFF -DTAVIO_BUILD_EXTRAS=OFF
fi
run_dir=${TAVIO_RUN_DIR:-$repo/run}
mkdir -p "$run_dir"
cd "$run_dir"

program_args=()
if [ "$mode" != real ]; then
    samples="$run_dir/samples"
    rm -rf "$samples"
    mkdir -p "$samples"
    device_link="$run_dir/device"
    # The firmware images are random bytes: the simulated device checks only
    # their size and digest.
    make_image() { head -c "$2" /dev/urandom > "$1"; }

    if [ "$mode" = single ]; then
        vid=7536
        make_image "$samples/Merlow_R_Sky_1_0_6.img" 1048576          # newer: accepted
        make_image "$samples/Merlow_R_Sky_1_0_4.img" 1048576          # older: refused as too low
        make_image "$samples/Merlow-R-Sky-1.0.6.bin" 1048576          # refused for its name
    else
        vid=7542
        make_image "$samples/app.part" 524288
        make_image "$samples/fpga.part" 262144
        make_image "$samples/sensor.part" 65536
        "$build/tavio-make-package" "$samples/Merlow_R_Sky_1_0_6.img" --board "$vid" \
            --app "$samples/app.part" --fpga "$samples/fpga.part" --sensor "$samples/sensor.part" >/dev/null
        rm -f "$samples"/*.part
    fi

    # Like a real unit, the device restarts after its upgrade with the new
    # firmware, which the program then checks.
    "$build/tavio-device-sim" --link "$device_link" --vid "$vid" --firmware Merlow_R_Sky_1_0_5 \
        --after-upgrade new --package-firmware Merlow_R_Sky_1_0_6 > "$run_dir/simulator.txt" 2>&1 &
    sim_pid=$!
    trap 'kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null || true' EXIT
    for _ in $(seq 50); do [ -e "$device_link" ] && break; sleep 0.1; done
    echo "Simulated device (vendor id $vid) at $device_link; sample files in $samples"
    program_args=(--port "$device_link" --vid "$vid")
fi

if [ -z "${DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
    xvfb-run -a "$build/tavio-pc-tool" "${program_args[@]}" "$@"
else
    "$build/tavio-pc-tool" "${program_args[@]}" "$@"
fi
