#!/usr/bin/env bash
# Runs one end-to-end scenario (tests/e2e/scenarios.py) in a private X server
# (xvfb-run) with its own session bus, so the accessibility bus the driver
# reads the window through belongs to this run alone.
#
#   tests/e2e/run.sh BUILD-DIR SCENARIO
#
# Exit status: 0 passed, 1 failed, 77 a tool is missing (a skip for CTest; a
# failure when CI=true).

set -u
export LC_ALL=C.UTF-8
export PYTHONDONTWRITEBYTECODE=1 # no __pycache__ in the source tree

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd) || exit 1
if (($# != 2)); then
    echo "usage: $0 BUILD-DIR typical_run|speed_change|busy_port|board_dies|screenshot" >&2
    exit 1
fi
build=$1
scenario=$2

# The driver needs Debian's own Python: the accessibility bindings are its package.
python=/usr/bin/python3
missing=()
for tool in xvfb-run:xvfb xdotool:xdotool openbox:openbox wmctrl:wmctrl import:imagemagick \
    dbus-run-session:dbus-daemon at-spi-bus-launcher:at-spi2-core s51:sdcc-ucsim socat:socat; do
    command -v "${tool%%:*}" >/dev/null || [[ -x /usr/libexec/${tool%%:*} ]] ||
        missing+=("${tool%%:*} (apt-get install ${tool#*:})")
done
"$python" -c 'import gi; gi.require_version("Atspi", "2.0")' 2>/dev/null ||
    missing+=("Python's AT-SPI bindings (apt-get install python3-gi gir1.2-atspi-2.0)")
[[ -f $build/firmware/board-9600.ihx ]] || command -v sdcc >/dev/null ||
    missing+=("the firmware $build/firmware/board-9600.ihx, or sdcc to build it (apt-get install sdcc)")
if ((${#missing[@]})); then
    printf 'missing: %s\n' "${missing[@]}" >&2
    [[ ${CI-} == true ]] && exit 1
    exit 77
fi
[[ -x $build/velmora ]] || { echo "$build/velmora is not built" >&2; exit 1; }

# A login of its own: openbox reads no settings of the user's, and the
# accessibility bus puts its socket in this runtime folder, not in one that
# other sessions of the same user share (~/.cache when none is set).
home=$(mktemp -d "${TMPDIR:-/tmp}/velmora-e2e.XXXXXX") || exit 1
export XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/runtime
mkdir -m 700 "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" || exit 1

# The session runs in a process group of its own (timeout makes one), so that
# whatever outlives it, such as an X server xvfb-run failed to stop, is ended.
session=
finish() {
    [[ -n $session ]] && kill -TERM -- -"$session" 2>/dev/null
    rm -rf "$home"
}
trap finish EXIT
trap 'exit 1' INT TERM HUP

# 24-bit colour, or the lamps' pure red and green would not survive the
# screen. -noreset: without it the server resets whenever its last client
# leaves, and refuses connections meanwhile, which a starting program may hit.
VELMORA_BUILD=$build timeout -k 10 240 dbus-run-session -- \
    xvfb-run -a -s '-screen 0 1280x1024x24 -dpi 96 -noreset' \
    "$python" "$HERE/scenarios.py" "$scenario" &
session=$!
wait "$session"
