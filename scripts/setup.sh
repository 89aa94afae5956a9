#!/usr/bin/env bash
# Installs every Debian package the build and the tests need; packages already present are skipped.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config git
    nlohmann-json3-dev libsimdjson-dev libicu-dev libcurl4-openssl-dev libcpp-httplib-dev
    libpng-dev libjpeg62-turbo-dev
    libx11-dev libx11-xcb-dev libxi-dev libxtst-dev libxext-dev libxfixes-dev libxcomposite-dev
    libxrandr-dev libxrender-dev libxkbcommon-dev libxkbcommon-x11-dev libatspi2.0-dev
    libxcb1-dev libglib2.0-dev libdbus-1-dev xkb-data
    libxcb-composite0-dev libxcb-render0-dev libxcb-shm0-dev libxcb-xfixes0-dev
    libxcb-shape0-dev libxcb-res0-dev libxcb-xtest0-dev
    qt6-base-dev qt6-qpa-plugins qt6-svg-dev openbox
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth dbus dbus-x11 at-spi2-core x11-utils x11-xserver-utils fonts-dejavu-core
    zenity lxterminal xcompmgr picom trayer
    xserver-xorg-core xserver-xorg-video-dummy  # a display server whose monitors come and go
    dpkg-dev file desktop-file-utils  # packaging and its tests
)
if [ "${KESTRO_WITH_FUZZ:-0}" = 1 ]; then
    packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}"
