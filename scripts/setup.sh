#!/usr/bin/env bash
# Installs the Debian packages Kestro needs; packages already present are skipped.
#   setup.sh           what building and running Kestro need
#   setup.sh --tests   that, and what the tests, benchmarks and packaging need besides
set -euo pipefail

# Building Kestro, and what it uses at run time.
build_and_run=(
    g++ cmake ninja-build pkg-config git
    nlohmann-json3-dev libsimdjson-dev libicu-dev libcurl4-openssl-dev libcpp-httplib-dev
    libpng-dev libjpeg62-turbo-dev
    libx11-dev libx11-xcb-dev libxi-dev libxtst-dev libxext-dev libxfixes-dev libxcomposite-dev
    libxrandr-dev libxrender-dev libxkbcommon-dev libxkbcommon-x11-dev libatspi2.0-dev
    libxcb1-dev libglib2.0-dev libdbus-1-dev xkb-data
    libxcb-composite0-dev libxcb-render0-dev libxcb-shm0-dev libxcb-xfixes0-dev
    libxcb-shape0-dev libxcb-res0-dev libxcb-xtest0-dev
    qt6-base-dev qt6-qpa-plugins qt6-svg-dev
    dbus at-spi2-core fonts-dejavu-core
)

# The tests and benchmarks: their framework, the desktops they start and the programs they
# record in.
tests=(
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth dbus-x11 x11-utils x11-xserver-utils openbox
    zenity lxterminal xcompmgr picom trayer xdotool
    python3-gi gir1.2-gtk-4.0 gir1.2-gtk-3.0  # GTK 4 and GTK 3 windows
    xserver-xorg-core xserver-xorg-video-dummy  # a display server whose monitors come and go
    dpkg-dev file desktop-file-utils            # packaging and its tests
)

# The fuzzers (scripts/fuzz.sh).
fuzz=(clang libclang-rt-14-dev)

packages=("${build_and_run[@]}")
for arg in "$@"; do
    case "$arg" in
    --tests) packages+=("${tests[@]}") ;;
    --fuzz) packages+=("${fuzz[@]}") ;;
    *)
        echo "setup.sh: unknown option $arg (use --tests or --fuzz)" >&2
        exit 2
        ;;
    esac
done

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
