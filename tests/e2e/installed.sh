#!/usr/bin/env bash
# The installed program (cmake --install into a scratch folder): the files a
# desktop needs are where it looks, the menu entries are valid, and the second
# launcher starts Velmora on the emulated board from the installed copy, stops
# the board with it, and names the tool that is missing when one is.
#
#   tests/e2e/installed.sh BUILD-DIR
#
# Exit status: 0 passed, 1 failed, 77 a tool is missing (a failure when CI=true).

set -u
export LC_ALL=C.UTF-8

build=${1:?usage: $0 BUILD-DIR}
missing=()
for tool in xvfb-run:xvfb xdotool:xdotool desktop-file-validate:desktop-file-utils \
    s51:sdcc-ucsim socat:socat dbus-run-session:dbus-daemon; do
    command -v "${tool%%:*}" >/dev/null || missing+=("${tool%%:*} (apt-get install ${tool#*:})")
done
[[ -f $build/firmware/board-9600.hex ]] || command -v sdcc >/dev/null ||
    missing+=("the firmware image $build/firmware/board-9600.hex, or sdcc to build it (apt-get install sdcc)")
if ((${#missing[@]})); then
    printf 'missing: %s\n' "${missing[@]}" >&2
    [[ ${CI-} == true ]] && exit 1
    exit 77
fi

failures=0
pass() { echo "ok - $*"; }
flunk() {
    echo "not ok - $*"
    failures=$((failures + 1))
}

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-installed.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
prefix=$work/root/usr
if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    exit 1
fi

for file in bin/velmora bin/velmora-emulated share/applications/velmora.desktop \
    share/applications/velmora-emulated.desktop share/icons/hicolor/scalable/apps/velmora.svg \
    share/velmora/scripts/emulated-board share/velmora/firmware/board.c; do
    if [[ -s $prefix/$file ]]; then pass "installed $file"; else flunk "not installed: $file"; fi
done
if [[ -f $build/firmware/board-9600.hex ]]; then
    if [[ -s $prefix/share/velmora/firmware/board-9600.hex ]]; then
        pass "installed the firmware image"
    else
        flunk "firmware image built but not installed"
    fi
fi
for entry in velmora velmora-emulated; do
    if out=$(desktop-file-validate "$prefix/share/applications/$entry.desktop" 2>&1); then
        pass "$entry.desktop is valid"
    else
        flunk "$entry.desktop: $out"
    fi
done

# A tool missing: a message naming it and its package, nothing started. No
# display, or the launcher would show the message in a window and wait.
without() { # VAR=VALUE PACKAGE
    env -u DISPLAY -u WAYLAND_DISPLAY "$1" XDG_CACHE_HOME="$work/cache" \
        timeout 20 "$prefix/bin/velmora-emulated" </dev/null >/dev/null 2>"$work/err"
    local status=$?
    if ((status == 125)) && grep -q "apt-get install $2\$" "$work/err"; then
        pass "without ${1%%=*}: $(head -n 1 "$work/err")"
    else
        flunk "without ${1%%=*}: status $status, said '$(cat "$work/err")'"
    fi
}
without S51=/nonexistent/s51 sdcc-ucsim
without SOCAT=/nonexistent/socat socat
# As packaged on a machine without sdcc: no image, so it must be built.
image=$prefix/share/velmora/firmware/board-9600.hex
[[ -f $image ]] && mv "$image" "$work/"
without SDCC=/nonexistent/sdcc sdcc
[[ -f $work/board-9600.hex ]] && mv "$work/board-9600.hex" "$image"

# With it: the window opens on the board; ending Velmora stops the board.
# SIGTERM closes the window as its close box does, so Velmora ends with 0
# (a session bus of its own: without one, Qt's accessibility link leaks at exit).
# shellcheck disable=SC2016  # expanded by the inner shell
XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work timeout 60 dbus-run-session -- xvfb-run -a -s '-noreset' bash -c '
    "$1" 2>"$2/err" &
    launcher=$!
    xdotool search --sync --onlyvisible --name "^Velmora$" >/dev/null
    board=$(pgrep -P "$launcher" -f emulated-board)
    velmora=$(pgrep -P "$board" -x velmora)
    others=$(pgrep -P "$board" -x "s51|socat" | paste -sd,)
    tr "\0" " " </proc/"$(pgrep -P "$board" -x s51)"/cmdline >"$2/s51"
    kill "$velmora"
    wait "$launcher"
    echo "$? $others" >"$2/result"
' _ "$prefix/bin/velmora-emulated" "$work"
read -r status ids <"$work/result" 2>/dev/null
if [[ ${status-} == 0 && -n ${ids-} ]] && grep -q "$prefix/share/velmora/firmware/" "$work/s51"; then
    pass "velmora-emulated ran Velmora on the installed firmware"
else
    flunk "velmora-emulated: status '${status-}', board '${ids-}', s51 '$(cat "$work/s51" 2>/dev/null)', said '$(cat "$work/err")'"
fi
if [[ -n ${ids-} ]] && ! ps -o pid= -p "$ids" >/dev/null; then
    pass "s51 and socat ended with Velmora"
else
    flunk "left running: $(ps -o pid=,comm= -p "${ids-}" 2>/dev/null | tr '\n' ' ')"
fi

echo "$failures failed"
exit $((failures > 0))
