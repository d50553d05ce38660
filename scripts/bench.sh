#!/usr/bin/env bash
# Measures Velmora and prints each figure beside its target, all from one run
# on this machine. Builds build-bench/ (Release) and runs everything on a
# private Xvfb display, so no desktop or window manager skews the figures.
#   scripts/bench.sh        BENCH_RUNS start-ups of each program (default 9),
#                           BENCH_IDLE_S seconds per idle figure (default 10)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${BENCH_RUNS:-9}
idle=${BENCH_IDLE_S:-10}
bin=build-bench

if [ "${1:-}" != --on-display ]; then
    cmake -S . -B "$bin" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    targets=$(cmake --build "$bin" --target help)
    if ! grep -q '^window_probe:' <<<"$targets"; then
        echo "bench/window_probe was not configured: it needs the XCB headers (sudo apt-get install libxcb1-dev)" >&2
        exit 1
    fi
    cmake --build "$bin" --target velmora bare_window window_probe bench_link firmware >"$bin/bench-build.log" ||
        { cat "$bin/bench-build.log"; exit 1; }
    # -noreset: the server would otherwise reset, refusing connections meanwhile,
    # each time the last program measured ends.
    exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" "$0" --on-display
fi

export QT_QPA_PLATFORM=xcb
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME=$scratch/config  # the window starts at its default placement
export XDG_RUNTIME_DIR=$scratch/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

probe() { "$bin/bench/window_probe" "$@"; }
# The values of one name in "name value" lines.
values() { awk -v name="$1" '$1 == name { print $2 }' "$2"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
spread() { sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.1f-%.1f", lo, hi }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
# ok when the awk condition on x holds.
verdict() { awk -v x="$1" "BEGIN { exit !($2) }" && echo ok || echo "NOT OK"; }

echo "Measuring: $runs start-ups of each window, ${idle} s per idle figure..." >&2
for _ in $(seq "$runs"); do  # interleaved, so drift on the machine hits both alike
    probe -- "$bin/bench/bare_window" >>"$scratch/bare"
    probe -- "$bin/velmora" >>"$scratch/velmora"
done
probe --idle-s "$idle" -- "$bin/velmora" >"$scratch/velmora-idle"
"$bin/bench/bench_link" --idle-s "$idle" >"$scratch/link"
# The emulated board on its own, paced and not.
bench/board_pace.sh "$bin/firmware" "$idle" >"$scratch/board-paced"
bench/board_pace.sh "$bin/firmware" "$idle" --full-speed >"$scratch/board-full"

bare_ms=$(values mapped_ms "$scratch/bare" | median)
velmora_ms=$(values mapped_ms "$scratch/velmora" | median)
bare_ms_range=$(values mapped_ms "$scratch/bare" | spread)
velmora_ms_range=$(values mapped_ms "$scratch/velmora" | spread)
bare_kib=$(values rss_kib "$scratch/bare" | median)
velmora_kib=$(values rss_kib "$scratch/velmora" | median)
start_ratio=$(awk -v a="$velmora_ms" -v b="$bare_ms" 'BEGIN { printf "%.2f", a / b }')
rss_ratio=$(awk -v a="$velmora_kib" -v b="$bare_kib" 'BEGIN { printf "%.2f", a / b }')
idle_off=$(values cpu_percent "$scratch/velmora-idle")
idle_on=$(values connected_idle_cpu_percent "$scratch/link")
input_us=$(values input_empty_median_us "$scratch/link")
ack_ms=$(values queryack_1000_median_ms "$scratch/link")
hits=$(values next_input_hits "$scratch/link")
sent=$(values text_64k_received "$scratch/link")
in_order=$(values text_64k_in_order "$scratch/link")
paced_idle_cpu_percent=$(values board_idle_cpu_percent "$scratch/board-paced")
paced_echo_median_ms=$(values board_echo_median_ms "$scratch/board-paced")
paced_echo_worst_ms=$(values board_echo_worst_ms "$scratch/board-paced")
paced_echo_lost=$(values board_echo_lost "$scratch/board-paced")
wake_median_ms=$(values board_wake_median_ms "$scratch/board-paced")
wake_worst_ms=$(values board_wake_worst_ms "$scratch/board-paced")
wake_lost=$(values board_wake_lost "$scratch/board-paced")
full_idle_cpu_percent=$(values board_idle_cpu_percent "$scratch/board-full")
full_echo_median_ms=$(values board_echo_median_ms "$scratch/board-full")
full_echo_worst_ms=$(values board_echo_worst_ms "$scratch/board-full")
full_echo_lost=$(values board_echo_lost "$scratch/board-full")

row() { printf '| %s | %s | %s | %s |\n' "$@"; }
vm=$(lscpu | sed -n 's/^Hypervisor vendor: *\(.*\)/, virtual machine (\1)/p')
echo "Machine: $(nproc) CPUs, $(lscpu | sed -n 's/^Model name: *//p' | head -n 1)$vm," \
    "load average $(cut -d' ' -f1-3 /proc/loadavg), $(date -u +%Y-%m-%d)"
echo
row Figure Measured Target Result
row --- --- --- ---
row "Start-up to window mapped (median of $runs)" \
    "$velmora_ms ms ($velmora_ms_range) = ${start_ratio} × bare window ($bare_ms ms, $bare_ms_range)" \
    "≤ 1.1 × bare" \
    "$(verdict "$start_ratio" 'x <= 1.1')"
row "Resident memory at idle (median of $runs)" \
    "$(mib "$velmora_kib") MiB = ${rss_ratio} × bare window ($(mib "$bare_kib") MiB)" \
    "≤ 1.15 × bare" "$(verdict "$rss_ratio" 'x <= 1.15')"
row "Idle CPU, disconnected (${idle} s)" "${idle_off} % of a core" "< 0.1 %" \
    "$(verdict "$idle_off" 'x < 0.1')"
row "Idle CPU, connected, timer running (${idle} s, in-process)" "${idle_on} % of a core" \
    "< 0.5 %" "$(verdict "$idle_on" 'x < 0.5')"
row "Input, nothing waiting (median of 10000)" "$input_us µs" "< 10 µs" \
    "$(verdict "$input_us" 'x < 10')"
row "QueryAck, 1000 reads with progress bar (median of 21)" "$ack_ms ms" "< 10 ms" \
    "$(verdict "$ack_ms" 'x < 10')"
row "Next Input returns a byte the system holds" "$hits trials" "every trial" \
    "$(verdict "$hits" 'split(x, n, "/") == 2 && n[1] == n[2]')"
row "64 KiB text reaches the board" "$sent bytes, in order: $in_order" "65536, in order" \
    "$(verdict "$sent $in_order" 'x == "65536 yes"')"
row "Emulated board idle, paced (${idle} s; s51, socat, script)" "${paced_idle_cpu_percent} % of a core" \
    "≤ 5 %" "$(verdict "$paced_idle_cpu_percent" 'x <= 5')"
row "Emulated board echo, paced (median, worst of 100)" \
    "${paced_echo_median_ms} ms, ${paced_echo_worst_ms} ms, ${paced_echo_lost} lost" "≤ 50 ms, ≤ 100 ms, none lost" \
    "$(verdict "$paced_echo_median_ms $paced_echo_worst_ms $paced_echo_lost" 'split(x, v, " ") && v[1] <= 50 && v[2] <= 100 && v[3] == 0')"
row "Emulated board echo, paced, each to a paused simulator (median, worst of 20)" \
    "${wake_median_ms} ms, ${wake_worst_ms} ms, ${wake_lost} lost" "≤ 50 ms, ≤ 100 ms, none lost" \
    "$(verdict "$wake_median_ms $wake_worst_ms $wake_lost" 'split(x, v, " ") && v[1] <= 50 && v[2] <= 100 && v[3] == 0')"
row "Emulated board idle, --full-speed (${idle} s)" "${full_idle_cpu_percent} % of a core" \
    "for comparison" "-"
row "Emulated board echo, --full-speed (median, worst of 100)" \
    "${full_echo_median_ms} ms, ${full_echo_worst_ms} ms, ${full_echo_lost} lost" "for comparison" "-"
