#!/usr/bin/env bash
# Checks the Debian package: builds it with the README's package command,
# lists its contents, runs lintian on it (no error, no warning), validates
# the description, the changelog, the desktop entry, the AppStream metadata,
# the udev rule and the bash completion, installs it into a temporary root
# and starts the installed programs there with --version and no display.
# Then the installed window, started from a working folder, must keep its
# log in the user's data folder and write nothing into that working folder.
# Usage: scripts/check-package.sh [BUILD_DIR]: packs the programs of an
# existing build (the test build: no second build of the same sources);
# without it, builds the package with the README's package command.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
app_id=com.tavio.pctool
version=$(sed -n 's/^project(TavioPcTool VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
fail() { echo "package check: $*" >&2; exit 1; }

if [ $# -gt 0 ]; then
    rm -f "$1"/*.deb
    (cd "$1" && cpack -G DEB >/dev/null)
    deb=$(ls "$1"/*.deb)
else
    deb=$("$repo/package.sh" | tail -n 1)
fi
[ -f "$deb" ] || fail "no package built"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavio-package.XXXXXX")
root=$scratch/root
program=
cleanup() {
    if [ -n "$program" ]; then
        kill "$program" 2>/dev/null || true
        wait "$program" 2>/dev/null || true
    fi
    rm -rf "$scratch"
}
trap cleanup EXIT

echo "package: $deb"
dpkg-deb -c "$deb" | tee "$scratch/contents.txt" | awk '{print "  " $NF}'
package=$(dpkg-deb -f "$deb" Package)
doc=./usr/share/doc/$package
expected=(./usr/bin/tavio-pc-tool ./usr/bin/tavio-flash
          "$doc/copyright" "$doc/changelog.Debian.gz" "./usr/share/applications/$app_id.desktop" "./usr/share/metainfo/$app_id.metainfo.xml"
          ./usr/lib/udev/rules.d/70-tavio.rules "./usr/share/icons/hicolor/scalable/apps/$app_id.svg"
          ./usr/share/man/man1/tavio-pc-tool.1.gz ./usr/share/man/man1/tavio-flash.1.gz
          ./usr/share/bash-completion/completions/tavio-flash "./usr/share/lintian/overrides/$package")
for size in 16 24 32 48 64 128 256; do
    expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/$app_id.png")
done
for path in "${expected[@]}"; do
    grep -q " $path\$" "$scratch/contents.txt" || fail "$path is not in the package"
done
# Every embedded font has its paragraph in the copyright file.
for font in "$repo"/res/fonts/*.TTF; do
    grep -qx "Files: res/fonts/$(basename "$font")" "$repo/dist/copyright" \
        || fail "the copyright file does not name $font"
done
# Debian's own checks: any error or warning fails, and every override the
# package ships says why in a comment above it.
lintian --fail-on error,warning "$deb"
dpkg -x "$deb" "$root"
overrides=$root/usr/share/lintian/overrides/$package
awk '/^#/ { reason = 1; next } /^[^[:space:]]/ && !reason { exit 1 } { reason = 0 }' "$overrides" \
    || fail "an override in $overrides has no comment saying why"
# The long description: one space, then text (no list separator of the
# build's own) or the "." of an empty line, within 80 columns.
description=$(dpkg-deb -f "$deb" Description | tail -n +2)
stray=$(grep -vxE ' (\.|[^ ;].{0,78})' <<<"$description" || true)
[ -z "$stray" ] || fail "malformed description lines: $stray"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for dependency in libqt5widgets5 libqt5serialport5 libkf5archive5 qttranslations5-l10n; do
    [[ "$depends" == *"$dependency"* ]] || fail "no dependency on $dependency"
done

gzip -dc "$root/$doc/changelog.Debian.gz" >"$scratch/changelog"
[ "$(dpkg-parsechangelog -l "$scratch/changelog" -S Version)" = "$(dpkg-deb -f "$deb" Version)" ] \
    || fail "the changelog's last entry is not the package's version"
[[ "$(dpkg-deb -f "$deb" Version)" == "$version"-* ]] || fail "the package's version is not $version"
desktop-file-validate "$root/usr/share/applications/$app_id.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml"
"$repo/scripts/check-udev-rules.sh" "$root/usr/lib/udev/rules.d/70-tavio.rules"
"$repo/scripts/check-completion.sh" "$root/usr/bin/tavio-flash" \
    "$root/usr/share/bash-completion/completions/tavio-flash"

headless=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
[ "$("${headless[@]}" "$root/usr/bin/tavio-pc-tool" --version)" = "tavio-pc-tool $version" ] \
    || fail "the installed tavio-pc-tool --version"
[ "$("${headless[@]}" "$root/usr/bin/tavio-flash" --version)" = "tavio-flash $version" ] \
    || fail "the installed tavio-flash --version"
echo "installed programs answer --version without a display: $version"

work=$scratch/work
data=$scratch/home/.local/share
mkdir -p "$work"
(cd "$work" && exec env HOME="$scratch/home" XDG_DATA_HOME="$data" QT_QPA_PLATFORM=offscreen \
    "$root/usr/bin/tavio-pc-tool" >/dev/null 2>&1) &
program=$!
for _ in $(seq 150); do
    [ -s "$data/tavio-pc-tool/log.txt" ] && break
    sleep 0.1
done
[ -s "$data/tavio-pc-tool/log.txt" ] || fail "the installed window wrote no log into $data/tavio-pc-tool"
[ -z "$(ls -A "$work")" ] || fail "the installed window wrote into its working folder: $(ls -A "$work")"
echo "installed window keeps its files in the data folder ($data/tavio-pc-tool)"
echo "package check: ok"
