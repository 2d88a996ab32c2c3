#!/usr/bin/env bash
# Installs every Debian 12 package that building, testing and regenerating
# Tessaline's resources need. Safe to run again; needs root (or sudo).
set -euo pipefail

packages=(
    # toolchain and libraries
    cmake ninja-build g++ pkg-config ccache patch
    juce-modules-source libeigen3-dev nlohmann-json3-dev libexpat1-dev libfftw3-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    # hosting tests: a display for editors, LV2 tools and schemas
    xvfb xauth x11-utils lilv-utils sordi lv2-dev
    # window tests: Mesa's software OpenGL, clicks and screenshots on the virtual display
    libgl1-mesa-dri xdotool imagemagick
    # resource programs (weights, artwork) and their checks
    python3 python3-numpy python3-scipy python3-matplotlib python3-pil python3-cairo
    fonts-dejavu-core fonts-inter
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "All build and test packages are installed."
    exit 0
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
