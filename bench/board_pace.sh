#!/usr/bin/env bash
# The emulated board's own figures, as "name value" lines: the CPU time of its
# processes (the script, s51 and socat) over IDLE_S seconds with nothing on the
# line, then the round trip of 100 single characters, each sent once the
# previous echo is back, and (paced) of 20 sent to a paused simulator.
#   bench/board_pace.sh FIRMWARE-DIR IDLE_S [emulated-board options]
set -u
export LC_ALL=C
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd) || exit 1
firmware=$1 idle_s=$2
shift 2

work=$(mktemp -d "${TMPDIR:-/tmp}/board-pace.XXXXXX") || exit 1
board=
finish() {
    [[ -n $board ]] && kill -TERM "$board" 2>/dev/null && wait "$board"
    rm -rf "$work"
}
trap finish EXIT
: >"$work/path"
"$here/../scripts/emulated-board" --firmware-dir "$firmware" "$@" --print-path >"$work/path" &
board=$!
line=
for ((i = 0; i < 300; i++)); do
    IFS= read -r line <"$work/path" && [[ -n $line ]] && break
    sleep 0.1
done
[[ -c $line ]] || { echo "the board did not start" >&2; exit 1; }
pids="$board $(pgrep -P "$board" -x 's51|socat' | tr '\n' ' ')"

exec {fd}<>"$line"
if ! IFS= read -r -N 1 -t 5 -u "$fd" c || [[ $c != U ]]; then
    echo "no greeting from the board" >&2
    exit 1
fi

# utime + stime + cutime + cstime of all the board's processes, in clock ticks;
# the command name, in brackets, may hold spaces, so the fields count after it.
ticks() {
    # shellcheck disable=SC2086  # a list of ids
    for p in $pids; do cat "/proc/$p/stat"; done |
        awk '{ sub(/^.*\) /, ""); t += $12 + $13 + $14 + $15 } END { print t }'
}
sleep 2 # the board settles after the greeting
t0=$(ticks) w0=${EPOCHREALTIME/./}
sleep "$idle_s"
t1=$(ticks) w1=${EPOCHREALTIME/./}
awk -v t=$((t1 - t0)) -v w=$((w1 - w0)) -v hz="$(getconf CLK_TCK)" \
    'BEGIN { printf "board_idle_cpu_percent %.2f\n", 100 * t / hz / (w / 1e6) }'

sim=$(pgrep -P "$board" -x s51)
paused() { [[ $(cut -d ' ' -f 3 "/proc/$sim/stat") == T ]]; }

# Round trips of $1 single letters (never byte 0x18), in microseconds, one a
# line; before each, $2: a command that waits. Characters lost are counted
# in $work/lost.
chars=abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ
round_trips() {
    local i want start c lost=0
    for ((i = 0; i < $1; i++)); do
        $2
        want=${chars:i%${#chars}:1}
        start=${EPOCHREALTIME/./}
        printf '%s' "$want" >&"$fd"
        if IFS= read -r -N 1 -t 2 -u "$fd" c && [[ $c == "$want" ]]; then
            echo $((${EPOCHREALTIME/./} - start))
        else
            lost=$((lost + 1))
        fi
    done
    echo "$lost" >"$work/lost"
}
# Prints NAME_median_ms, NAME_worst_ms and NAME_lost from round_trips' output.
summary() {
    sort -n | awk -v name="$1" -v lost="$(cat "$work/lost")" '{ v[NR] = $1 } END {
        printf "%s_median_ms %.1f\n%s_worst_ms %.1f\n%s_lost %d\n", name,
            (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) / 1000, name, v[NR] / 1000, name, lost }'
}
# As typing finds it: a pause of 10 to 90 ms before each character.
typing() { sleep 0.0$((RANDOM % 9 + 1)); }
# From a paused simulator: the first character after a quiet spell.
after_pause() {
    local i
    for ((i = 0; i < 100; i++)); do
        paused && return 0
        sleep 0.05
    done
}
round_trips 100 typing >"$work/rtt"
summary board_echo <"$work/rtt"
if [[ " $* " != *" --full-speed "* ]]; then
    round_trips 20 after_pause >"$work/rtt"
    summary board_wake <"$work/rtt"
fi
