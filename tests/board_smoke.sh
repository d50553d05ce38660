#!/usr/bin/env bash
# shellcheck disable=SC2317  # finish runs from a trap
# Smoke check of the emulated board (scripts/emulated-board, firmware/board.c):
# at each speed the board greets with "U", echoes what it gets and answers "?"
# with "?K"; it survives the port being closed and opened again; stopping it,
# or the command it runs ending, leaves no s51 or socat behind; and a dying
# simulator, a missing simulator and a missing port each end in a clear
# message, not a hang. Byte 0x18 is never sent (without flow control it opens
# the simulator's own menu).
#
#   tests/board_smoke.sh [--firmware-dir DIR] [--baud N]...
#
# Exit status: 0 all passed, 1 something failed, 77 s51, socat or sdcc is
# missing (a skip for CTest; a failure when CI=true).

set -u
export LC_ALL=C

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd) || exit 1
BOARD=$HERE/../scripts/emulated-board
board_args=()
bauds=()

# --client: run by emulated-board as its command, talks to $VELMORA_COM1.
if [[ ${1-} == --client ]]; then
    client=1
    shift
fi

while (($#)); do
    case $1 in
        --firmware-dir) board_args+=(--firmware-dir "$2"); shift 2 ;;
        --baud) bauds+=("$2"); shift 2 ;;
        *) echo "usage: $0 [--firmware-dir DIR] [--baud N]..." >&2; exit 1 ;;
    esac
done
((${#bauds[@]})) || bauds=(4800 9600 14400)

failures=0
pass() { echo "ok - $*"; }
flunk() {
    echo "not ok - $*"
    failures=$((failures + 1))
}

# --- The line -----------------------------------------------------------------

line_fd=
open_line() {
    exec {line_fd}<>"$1"
}
close_line() {
    [[ -n $line_fd ]] && exec {line_fd}>&-
    line_fd=
}
send() { printf '%s' "$1" >&"$line_fd"; }

# Reads until it has as many bytes as $1, or $2 seconds pass between two bytes;
# true when it got exactly $1. What it got is in $got.
got=
expect() {
    local want=$1 wait=${2:-3} c
    got=
    while ((${#got} < ${#want})); do
        IFS= read -r -N 1 -t "$wait" -u "$line_fd" c || break
        got+=$c
    done
    [[ $got == "$want" ]]
}
# True when nothing arrives within $1 seconds.
quiet() {
    local c
    ! IFS= read -r -N 1 -t "$1" -u "$line_fd" c
}

# Checks the board on $1, freshly started: greeting, echo, acknowledgement.
exchange() {
    local what=$1
    if expect U; then pass "$what: greets with U"; else flunk "$what: greeting: wanted 'U', got '$got'"; fi
    send Hello
    if expect Hello && quiet 0.3; then pass "$what: echoes Hello"; else flunk "$what: echo: wanted 'Hello', got '$got'"; fi
    send '?'
    if expect '?K'; then pass "$what: answers ? with K"; else flunk "$what: acknowledgement: wanted '?K', got '$got'"; fi
    send 'a?b'
    if expect 'a?Kb' && quiet 0.3; then pass "$what: a?b gives a?Kb"; else flunk "$what: wanted 'a?Kb', got '$got'"; fi
}

if [[ ${client-} ]]; then
    # Leaves the board's processes for the caller to check after the run.
    pgrep -P "$PPID" -x s51 >"$CLIENT_PIDS"
    pgrep -P "$PPID" -x socat >>"$CLIENT_PIDS"
    open_line "$VELMORA_COM1"
    exchange "command mode"
    close_line
    exit $((failures > 0))
fi

# --- Tools ----------------------------------------------------------------------

missing=()
for tool in s51:sdcc-ucsim socat:socat sdcc:sdcc; do
    command -v "${tool%%:*}" >/dev/null || missing+=("${tool%%:*} (apt-get install ${tool#*:})")
done
if ((${#missing[@]})); then
    echo "missing: ${missing[*]}" >&2
    [[ ${CI-} == true ]] && exit 1
    exit 77
fi

# --- Starting and stopping boards ---------------------------------------------

work=$(mktemp -d "${TMPDIR:-/tmp}/board-smoke.XXXXXX") || exit 1
board_pid=
sim_pid=
socat_pid=
line=

stop_board() {
    close_line
    [[ -n $board_pid ]] && kill -TERM "$board_pid" 2>/dev/null
    board_pid=
}
finish() {
    stop_board
    # Whatever a failed check left running, by the ids this script saw.
    local p
    for p in $sim_pid $socat_pid; do kill -KILL "$p" 2>/dev/null; done
    rm -rf "$work"
}
trap finish EXIT
trap 'exit 1' INT TERM HUP

# Starts a board with --print-path; sets board_pid, line, sim_pid, socat_pid.
# launch: what runs the script (the board itself is then its child).
launch=()
start_board() {
    : >"$work/out"
    "${launch[@]}" "$BOARD" "${board_args[@]}" "$@" --print-path >"$work/out" 2>"$work/err" &
    board_pid=$!
    line=
    local i
    for ((i = 0; i < 300; i++)); do
        IFS= read -r line <"$work/out" && [[ -n $line ]] && break
        kill -0 "$board_pid" 2>/dev/null || break
        sleep 0.1
    done
    sim_pid=$(pgrep -P "$board_pid" -x s51)
    socat_pid=$(pgrep -P "$board_pid" -x socat)
    [[ -n $line && -c $line && -n $sim_pid && -n $socat_pid ]]
}

# True when process $1 ends within $2 seconds; its status is then in $ended.
ended=
ends_within() {
    local pid=$1 i
    for ((i = 0; i < $2 * 10; i++)); do
        if ! kill -0 "$pid" 2>/dev/null; then
            { wait "$pid"; } 2>/dev/null
            ended=$?
            return 0
        fi
        sleep 0.1
    done
    return 1
}
# True when none of the given processes exists.
all_gone() {
    local p
    for p; do kill -0 "$p" 2>/dev/null && return 1; done
    return 0
}

# --- The checks ---------------------------------------------------------------

for baud in "${bauds[@]}"; do
    if ! start_board --baud "$baud"; then
        flunk "$baud baud: board did not start: $(cat "$work/err")"
        stop_board
        continue
    fi
    open_line "$line"
    exchange "$baud baud"
    close_line
    open_line "$line"
    send again
    if expect again; then pass "$baud baud: port closed and opened again still echoes"; else flunk "$baud baud: after reopening: wanted 'again', got '$got'"; fi
    close_line
    pid=$board_pid
    kill -TERM "$pid"
    board_pid=
    if ends_within "$pid" 5 && ((ended == 0)) && all_gone "$sim_pid" "$socat_pid"; then
        pass "$baud baud: TERM stops the board, s51 and socat"
    else
        flunk "$baud baud: after TERM: status '$ended', left: $(ps -o pid=,comm= -p "$pid,$sim_pid,$socat_pid" | tr '\n' ' ')"
    fi
done

# --- Pacing -------------------------------------------------------------------

# The state letter of process $1 (R, S, T for stopped...), empty when gone.
state() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    stat=${stat##*) }
    echo "${stat%% *}"
}
# True when the paced board has paused its simulator within $1 seconds.
paused_within() {
    local i
    for ((i = 0; i < $1 * 20; i++)); do
        [[ $(state "$sim_pid") == T ]] && return 0
        sleep 0.05
    done
    return 1
}

# Idle, the simulator is paused; the first character wakes it, and the board
# answers as before.
if start_board; then
    open_line "$line"
    if expect U && paused_within 3; then
        pass "idle: the simulator is paused"
        # Woken by the character, not by the next slice a second later.
        woke=0
        for c in x y z; do
            paused_within 3 && send "$c" && expect "$c" 0.5 && woke=$((woke + 1))
        done
        if ((woke == 3)); then pass "paused: each character wakes the board and comes back"; else flunk "paused: $woke of 3 characters came back within 0.5 s"; fi
    else
        flunk "idle: greeting '$got', simulator state '$(state "$sim_pid")'"
    fi
    close_line
    stop_board
fi

# --full-speed: never paused.
if start_board --full-speed; then
    open_line "$line"
    expect U
    if ! paused_within 2 && expect '' && send '?' && expect '?K'; then
        pass "--full-speed: never paused, answers ? with ?K"
    else
        flunk "--full-speed: simulator state '$(state "$sim_pid")', got '$got'"
    fi
    close_line
    stop_board
fi

# Stopped while its simulator is paused, by each signal, or its parent dying:
# nothing stays behind, not even a paused s51. KILL leaves it no trap to run.
for how in TERM INT HUP KILL parent; do
    if [[ $how == parent ]]; then
        # A parent that goes away without a word to the board.
        bash -c '"$@" --print-path >"'"$work/out"'" 2>"'"$work/err"'" & wait' - "$BOARD" "${board_args[@]}" &
        parent=$!
        for ((i = 0; i < 100; i++)); do
            board_pid=$(pgrep -P "$parent" -f emulated-board) && break
            sleep 0.1
        done
        for ((i = 0; i < 100; i++)); do
            sim_pid=$(pgrep -P "$board_pid" -x s51) && socat_pid=$(pgrep -P "$board_pid" -x socat) && break
            sleep 0.1
        done
    else
        # A background job ignores INT, and the script could not trap it; a
        # terminal's Ctrl-C finds it in the foreground, INT not ignored.
        launch=()
        [[ $how == INT ]] && launch=(python3 -c 'import os, signal, sys
signal.signal(signal.SIGINT, signal.SIG_DFL)
os.execvp(sys.argv[1], sys.argv[1:])')
        start_board
        started=$?
        launch=()
        if ((started)); then
            flunk "board did not start: $(cat "$work/err")"
            stop_board
            continue
        fi
    fi
    if ! paused_within 3; then
        flunk "stopped by $how: the simulator was never paused"
        stop_board
        continue
    fi
    pid=$board_pid
    board_pid=
    if [[ $how == parent ]]; then
        kill -KILL "$parent"
        wait "$parent" 2>/dev/null
        want='(0|125)' # the board is not our child: no status to check
        for ((i = 0; i < 50; i++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        ended=125
    else
        kill "-$how" "$pid"
        want=0
        [[ $how == KILL ]] && want=137
        ends_within "$pid" 5
    fi
    for ((i = 0; i < 30; i++)); do all_gone "$pid" "$sim_pid" "$socat_pid" && break; sleep 0.1; done
    if [[ $ended =~ ^$want$ ]] && all_gone "$pid" "$sim_pid" "$socat_pid"; then
        pass "stopped by $how while paused: nothing left"
    else
        flunk "stopped by $how while paused: status '$ended', left: $(ps -o pid=,stat=,comm= -p "$pid,$sim_pid,$socat_pid" | tr '\n' ' ')"
    fi
done

# A paused simulator that dies, by KILL or by a TERM it can only act on once
# continued, is reported like any other simulator death.
for signal in KILL TERM; do
    if ! start_board; then
        flunk "board did not start: $(cat "$work/err")"
        continue
    fi
    if ! paused_within 3; then
        flunk "paused simulator gets $signal: it was never paused"
        stop_board
        continue
    fi
    kill "-$signal" "$sim_pid"
    pid=$board_pid
    board_pid=
    if ends_within "$pid" 5 && ((ended == 125)) && grep -q "simulator s51 was killed by signal SIG$signal" "$work/err" &&
        all_gone "$sim_pid" "$socat_pid"; then
        pass "a paused simulator given $signal dies and is reported"
    else
        flunk "paused simulator given $signal: status '$ended', message '$(cat "$work/err")'"
    fi
done

# The simulator dies while the board is in use.
if start_board; then
    kill -KILL "$sim_pid"
    pid=$board_pid
    board_pid=
    if ends_within "$pid" 5 && ((ended == 125)) && grep -q "s51" "$work/err" && all_gone "$socat_pid"; then
        pass "a dying simulator is reported: $(head -n 1 "$work/err")"
    else
        flunk "dying simulator: status '$ended', message '$(cat "$work/err")'"
    fi
else
    flunk "board did not start: $(cat "$work/err")"
fi

# Command mode: the command gets VELMORA_COM1, and its end stops the board.
export CLIENT_PIDS=$work/client-pids
: >"$CLIENT_PIDS"
timeout 60 "$BOARD" "${board_args[@]}" -- "$HERE/board_smoke.sh" --client >"$work/client.out" 2>&1
status=$?
sed 's/^/    /' "$work/client.out"
# shellcheck disable=SC2046  # one id a line
if ((status == 0)) && [[ -s $CLIENT_PIDS ]] && all_gone $(cat "$CLIENT_PIDS"); then
    pass "command mode: exchange passes and the board stops with the command"
else
    flunk "command mode: status $status, board processes: $(tr '\n' ' ' <"$CLIENT_PIDS")"
fi

# Command mode stopped from outside: the command, s51 and socat all end.
"$BOARD" "${board_args[@]}" -- sleep 60 >/dev/null 2>"$work/err" &
pid=$!
command=
for ((i = 0; i < 100; i++)); do
    command=$(pgrep -P "$pid" -f '^sleep 60$') && break
    sleep 0.1
done
children="$command $(pgrep -P "$pid" -x 's51|socat' | tr '\n' ' ')"
kill -TERM "$pid"
# shellcheck disable=SC2086  # a list of ids
if ends_within "$pid" 10 && ((ended == 143)) && all_gone $children; then
    pass "command mode: TERM stops the command and the board"
else
    flunk "command mode TERM: status '$ended', children were '$children'"
fi

# A port path that does not exist.
VELMORA_COM1=/nonexistent/ttyUSB9 timeout 10 "$BOARD" --prefer-env -- true 2>"$work/err"
status=$?
if ((status == 125)) && grep -q "VELMORA_COM1.*/nonexistent/ttyUSB9.*does not exist" "$work/err"; then
    pass "a missing port is reported: $(head -n 1 "$work/err")"
else
    flunk "missing port: status $status, message '$(cat "$work/err")'"
fi

# A device of the user's own replaces the board.
# shellcheck disable=SC2016  # expanded by the command, not here
out=$(VELMORA_COM1=/dev/null timeout 10 "$BOARD" --prefer-env -- sh -c 'echo "$VELMORA_COM1"' 2>"$work/err")
status=$?
if ((status == 0)) && [[ $out == /dev/null ]] && grep -q "no emulated board" "$work/err"; then
    pass "VELMORA_COM1 set: the command gets that device and no board starts"
else
    flunk "VELMORA_COM1 set: status $status, got '$out', message '$(cat "$work/err")'"
fi

# No simulator.
S51=/nonexistent/s51 timeout 10 "$BOARD" "${board_args[@]}" --print-path >/dev/null 2>"$work/err"
status=$?
if ((status == 125)) && grep -q "sdcc-ucsim" "$work/err"; then
    pass "a missing simulator is reported: $(head -n 1 "$work/err")"
else
    flunk "missing simulator: status $status, message '$(cat "$work/err")'"
fi

echo "$failures failed"
exit $((failures > 0))
