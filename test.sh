#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a normal build, then a build
# with AddressSanitizer and UndefinedBehaviorSanitizer; checks the run
# command and the Debian package (built, validated, installed into a
# temporary root and started); then runs the fuzz targets for a short while.
# Any failure, sanitizer report or fuzz finding fails the run.
set -euo pipefail
repo=$(cd "$(dirname "$0")" && pwd)
jobs=$(nproc)

"$repo/scripts/setup.sh" "$repo/build-test"
(cd "$repo/build-test" && ctest --output-on-failure --parallel "$jobs")
"$repo/scripts/check-run.sh" "$repo/build-test"
"$repo/scripts/check-package.sh" "$repo/build-test"

# Only what the suites run: the manual pages and the package are the normal build's.
TAVIO_BUILD_TARGETS=tavio_tests "$repo/scripts/setup.sh" "$repo/build-asan" -DTAVIO_SANITIZE=ON \
    -DCMAKE_BUILD_TYPE=Debug -DTAVIO_BUILD_EXTRAS=OFF
(cd "$repo/build-asan" && ctest --output-on-failure --parallel "$jobs")
"$repo/scripts/fuzz.sh" 20
echo "All tests passed (normal and sanitizer builds, the run command, the package, fuzz targets)."
