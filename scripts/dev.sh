#!/usr/bin/env bash
# Set-up, build, run and test on Debian 12.
#   scripts/dev.sh run    install what is missing, build, start Velmora
#   scripts/dev.sh test   install what is missing, build, run every test: the
#                         fuzz targets (bounded), the suite under ASan/UBSan,
#                         then the suite itself, whose summary ends the output
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-serialport-dev qt6-qpa-plugins libqt6serialport6 libgl-dev
    fonts-liberation2
    xvfb xauth x11-utils
    sdcc sdcc-ucsim socat
    clang libclang-rt-14-dev
    xdotool wmctrl openbox imagemagick dbus-daemon at-spi2-core python3-gi gir1.2-atspi-2.0
    desktop-file-utils dpkg-dev file
)

install_missing() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            echo "Missing packages and no sudo: run this once as root, or install them:" >&2
            echo "  apt-get install ${missing[*]}" >&2
            exit 1
        fi
        sudo=(sudo)
    fi
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}

build() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build
}

case "${1:-}" in
    run)
        install_missing
        build
        exec scripts/emulated-board --prefer-env --firmware-dir build/firmware -- build/velmora
        ;;
    test)
        install_missing
        build
        fuzz/run.sh 15
        scripts/sanitize.sh
        ctest --test-dir build --output-on-failure -j2
        ;;
    *)
        echo "usage: $0 run|test" >&2
        exit 2
        ;;
esac
