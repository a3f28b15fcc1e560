#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Korvex needs. Safe to run again.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config git
    qtbase5-dev libqt5sql5-sqlite libqt5serialport5-dev qt3d5-dev qt3d-defaultgeometryloader-plugin
    libqt5svg5 libqt5svg5-dev libpolyclipping-dev
    libgl1-mesa-dri fonts-dejavu-core xvfb xauth xdotool imagemagick socat dbus
    gerbv libgtk2.0-dev libdxflib-dev
    openscad-testing-data librecad-data admesh
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

# Sample parts for the calculation server's tests: PrusaSlicer's shapes, taken from its package
# without installing it (the tests skip them when this step could not run).
prusa_samples=/var/cache/korvex-samples/prusa
if [ ! -d "$prusa_samples/usr/share/PrusaSlicer/shapes" ]; then
    download=$(mktemp -d)
    if (cd "$download" && apt-get download prusa-slicer >/dev/null 2>&1 \
            || { apt-get update >/dev/null && apt-get download prusa-slicer >/dev/null; }); then
        mkdir -p "$prusa_samples"
        dpkg-deb --fsys-tarfile "$download"/prusa-slicer_*.deb \
            | tar -x -C "$prusa_samples" --wildcards './usr/share/PrusaSlicer/shapes/*'
    else
        echo "install-deps: could not download prusa-slicer; its sample shapes are missing" >&2
    fi
    rm -rf "$download"
fi
