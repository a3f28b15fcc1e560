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
