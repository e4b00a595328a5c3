#!/usr/bin/env bash
# Builds the Debian package of the two programs into build-package/: a
# Release build without the tests and tools, laid out under /usr and packed
# by CPack, its dependencies found by dpkg-shlibdeps. Prints the package's path.
set -euo pipefail
repo=$(cd "$(dirname "$0")" && pwd)
build=$repo/build-package

TAVIO_BUILD_TARGETS="tavio-pc-tool tavio-flash" "$repo/scripts/setup.sh" "$build" \
    -DCMAKE_BUILD_TYPE=Release -DTAVIO_BUILD_TESTS=OFF -DTAVIO_BUILD_EXTRAS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/*.deb
