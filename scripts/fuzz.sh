#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for a while on a copy of its seed corpus. Prints executions,
# coverage, corpus and findings per target; any finding (a crash, a leak, an
# input over the memory limit or one running past the hang limit) fails the
# run, and its input is kept in build-fuzz/findings/<target>/. Inputs that
# are merely slow on a loaded machine are not findings.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 20; 600 makes the long
# run, over a million executions per target)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
build_dir=$repo/build-fuzz
targets=(fuzz_receive fuzz_package fuzz_names)
# A single input running this long counts as a hang. An input takes a
# quarter of a second at most on an idle machine, but a loaded one has been
# seen to stretch that to 11 s: the limit leaves room for that.
input_timeout_s=60
# What libFuzzer keeps of a finding; it also writes slow-unit-* files, which are not.
finding_patterns=(-name 'crash-*' -o -name 'leak-*' -o -name 'oom-*' -o -name 'timeout-*')

case $seconds in
    ''|*[!0-9]*) echo "usage: $0 [SECONDS_PER_TARGET]" >&2; exit 2 ;;
esac

# The versioned names always exist once clang-14 is installed; they match
# the installed fuzzer runtime.
cc=clang-14
cxx=clang++-14
# Debug keeps the assertions; -O1 inlines Qt's header functions, which
# unoptimised and instrumented made each execution several times slower.
TAVIO_EXTRA_PACKAGES="clang-14 libclang-rt-14-dev" TAVIO_BUILD_TARGETS="${targets[*]}" \
    CC=$cc CXX=$cxx "$repo/scripts/setup.sh" "$build_dir" -DTAVIO_FUZZ=ON -DTAVIO_SANITIZE=ON \
    -DTAVIO_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1"

rm -rf "$build_dir/findings"
work=$(mktemp -d "${TMPDIR:-/tmp}/tavio-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS=detect_leaks=1
export LSAN_OPTIONS=suppressions=$repo/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen

# The value of `field` (e.g. "cov:") on the last status line of a log.
status_field() {
    grep -E '^#[0-9]+' "$1" | tail -n 1 | sed -nE "s/.* $2 ([^ ]+).*/\\1/p"
}
final_stat() {
    sed -nE "s/^stat::$2: *([0-9]+).*/\\1/p" "$1" | tail -n 1
}

failed=0
summary=$(printf '%-14s %12s %8s %6s %12s %9s' target executions exec/s cov corpus findings)
for target in "${targets[@]}"; do
    corpus=$work/$target/corpus
    artifacts=$work/$target/artifacts/
    log=$work/$target/log.txt
    mkdir -p "$corpus" "$artifacts"
    cp "$repo/fuzz/corpus/$target/"* "$corpus/"

    echo "Fuzzing $target for ${seconds}s..."
    status=0
    "$build_dir/fuzz/$target" "$corpus" -dict="$repo/fuzz/$target.dict" \
        -max_total_time="$seconds" -timeout="$input_timeout_s" -report_slow_units="$input_timeout_s" \
        -print_final_stats=1 -artifact_prefix="$artifacts" >"$log" 2>&1 || status=$?

    findings=$(find "$artifacts" -type f \( "${finding_patterns[@]}" \) | wc -l)
    if [ "$status" -ne 0 ] || [ "$findings" -gt 0 ]; then
        failed=1
        findings=$((findings > 0 ? findings : 1))
        mkdir -p "$build_dir/findings/$target"
        cp "$artifacts"* "$build_dir/findings/$target/" 2>/dev/null || true
        cp "$log" "$build_dir/findings/$target/log.txt"
        echo "$target: FINDING (exit $status), log and inputs in $build_dir/findings/$target/"
        echo "  reproduce with: $build_dir/fuzz/$target $build_dir/findings/$target/<input>"
        grep -v -E '^#[0-9]+' "$log" | tail -n 40
    fi
    summary+=$'\n'$(printf '%-14s %12s %8s %6s %12s %9s' "$target" \
        "$(final_stat "$log" number_of_executed_units)" "$(final_stat "$log" average_exec_per_sec)" \
        "$(status_field "$log" cov:)" "$(status_field "$log" corp:)" "$findings")
done

echo
echo "$summary"
if [ "$failed" -ne 0 ]; then
    echo "Fuzzing found problems (see above)." >&2
    exit 1
fi
echo "No findings."
