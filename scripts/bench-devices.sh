#!/usr/bin/env bash
# Several devices at once against one: whole upgrades by tavio-flash of one
# image on N simulated devices on bare pseudo-terminals (one --port each),
# timed against the same upgrade on one device, alternately, each round
# against fresh simulators. Prints wall times, their ratio, and the peak
# memory of the command with the memory each added device costs.
# Usage: scripts/bench-devices.sh [DEVICES (16)] [ROUNDS (3)] [IMAGE_MIB (1)] [CLOCK_FACTOR (10)]
# Uses build-bench (scripts/bench.sh builds it).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${TAVIO_BENCH_BUILD:-$repo/build-bench}
devices=${1:-16}
rounds=${2:-3}
mib=${3:-1}
factor=${4:-10}
work=$(mktemp -d)
sims=()
cleanup() {
    for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

image="$work/Merlow_R_Sky_1_0_6.img" # newer than the simulator's own firmware
head -c $((mib * 1048576)) /dev/urandom > "$image"

# upgrade COUNT: prints "seconds peak_kib"
upgrade() {
    local count=$1 ports=() i
    sims=()
    for ((i = 0; i < count; i++)); do
        "$build/tavio-device-sim" --link "$work/dev$i" --reboot-delay 200 > "$work/sim$i.log" 2>&1 &
        sims+=($!)
        ports+=(--port "$work/dev$i")
    done
    for ((i = 0; i < count; i++)); do
        while [ ! -e "$work/dev$i" ]; do sleep 0.05; done
    done
    local start end
    start=$(date +%s.%N)
    (cd "$work" && /usr/bin/time -f '%M' -o "$work/peak" "$build/tavio-flash" upgrade "$image" "${ports[@]}" \
        --vid 7536 --yes --clock-factor "$factor" --log "$work/log.txt" > "$work/out.txt" 2>&1) \
        || { echo "the upgrade on $count device(s) failed:" >&2; tail -5 "$work/out.txt" >&2; exit 2; }
    end=$(date +%s.%N)
    for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -f "$work"/dev*
    echo "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }') $(cat "$work/peak")"
}

echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "   $devices devices against 1, ${mib} MiB image, clock ${factor}x, bare pty"
printf '  round  one s    %2d s     ratio  one KiB  %2d KiB  KiB per added device\n' "$devices" "$devices"
ratios=()
for ((r = 1; r <= rounds; r++)); do
    read -r one one_kib < <(upgrade 1)
    read -r many many_kib < <(upgrade "$devices")
    ratio=$(awk -v a="$one" -v b="$many" 'BEGIN { print b / a }')
    ratios+=("$ratio")
    printf '  %5d  %6.2f  %6.2f  %6.3f  %7d  %7d  %8.0f\n' "$r" "$one" "$many" "$ratio" "$one_kib" "$many_kib" \
        "$(awk -v a="$one_kib" -v b="$many_kib" -v n="$devices" 'BEGIN { print (b - a) / (n - 1) }')"
done
printf '  median ratio %.3f\n' "$(printf '%s\n' "${ratios[@]}" | sort -g | sed -n "$(((rounds + 1) / 2))p")"
