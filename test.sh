#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a normal build, then a build
# with AddressSanitizer and UndefinedBehaviorSanitizer. Any failure, or any
# sanitizer report, fails the run.
set -euo pipefail
repo=$(cd "$(dirname "$0")" && pwd)
jobs=$(nproc)

"$repo/scripts/setup.sh" "$repo/build-test"
(cd "$repo/build-test" && ctest --output-on-failure --parallel "$jobs")

"$repo/scripts/setup.sh" "$repo/build-asan" -DTAVIO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
(cd "$repo/build-asan" && ctest --output-on-failure --parallel "$jobs")
echo "All tests passed (normal and sanitizer builds)."
