#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing), then
# configures and builds the project into the given folder.
# Usage: scripts/setup.sh BUILD_DIR [extra cmake arguments...]
# TAVIO_EXTRA_PACKAGES adds Debian packages; TAVIO_BUILD_TARGETS limits the
# build to the named targets.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$1
shift

# Zip archives are read with KDE's KArchive (libkf5archive-dev). Qt's own
# catalogues (qttranslations5-l10n) are loaded at run time; the
# package is built with dpkg-dev and file (dpkg-shlibdeps), its manual pages
# with help2man, and it is checked with lintian, desktop-file-utils,
# appstream and bash-completion (the helpers its completion builds on).
packages=(build-essential cmake qtbase5-dev libqt5serialport5-dev qttools5-dev
          qttools5-dev-tools zlib1g-dev libkf5archive-dev xvfb xauth qttranslations5-l10n
          dpkg-dev file help2man lintian desktop-file-utils appstream bash-completion
          ${TAVIO_EXTRA_PACKAGES:-})
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing missing packages: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake -S "$repo" -B "$build_dir" -DTAVIO_WERROR=ON "$@" >/dev/null
targets=()
for target in ${TAVIO_BUILD_TARGETS:-}; do targets+=(--target "$target"); done
cmake --build "$build_dir" --parallel "$(nproc)" "${targets[@]}"
