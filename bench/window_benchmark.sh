#!/usr/bin/env bash
# The desktop process under COUNT uploads of RATE bytes per second each (64 × 1 MB/s by default): CPU
# of the whole process and the GUI thread's event-loop latency with the real main window (offscreen
# platform), beside the same receiver without a window, measured alternately in the same run.
#
# Usage: bench/window_benchmark.sh          Env: ROUNDS (5) COUNT (64) RATE (1000000) DURATION (20 seconds)
# Prints per mode the median and min–max of CPU % of one core and of the p99 latency, and the ratio of
# the window's CPU to the windowless baseline.
set -euo pipefail
BENCH=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$BENCH")
BIN=${BIN:-$ROOT/build/bin}
. "$BENCH/lib.sh"
# Not SECONDS: bash counts the seconds since the shell started in it, so it is 0 here, and uploads of 0
# bytes all fail.
ROUNDS=${ROUNDS:-5}; COUNT=${COUNT:-64}; RATE=${RATE:-1000000}; SECONDS_EACH=${DURATION:-20}

[ -x "$BIN/window_progress_bench" ] || die "build first: cmake --build build --target window_progress_bench"
ulimit -n 8192 2>/dev/null || true
RESULTS=$WORK/window.tsv; : > "$RESULTS"

for round in $(seq "$ROUNDS"); do
    # Alternate which goes first, so a slow moment of the machine does not always hit the same one.
    modes=(window headless); ((round % 2 == 0)) && modes=(headless window)
    for mode in "${modes[@]}"; do
        flag=(); [ "$mode" = headless ] && flag=(--headless)
        read -r cpu p50 p99 ok failed < <("$BIN/window_progress_bench" "${flag[@]}" "$BENCH/paced_uploads.js" \
            "$COUNT" "$RATE" "$SECONDS_EACH" 2>/dev/null | tail -n 1)
        [ "$failed" = 0 ] || die "$failed of $((ok + failed)) uploads failed ($mode)"
        printf '%s\tcpu\t%s\n%s\tp99\t%s\n' "$mode" "$cpu" "$mode" "$p99" >> "$RESULTS"
        echo "round $round $mode: cpu ${cpu}% p50 ${p50} ms p99 ${p99} ms" >&2
    done
done

column() { awk -F'\t' -v m="$1" -v k="$2" '$1==m && $2==k {print $3}' "$RESULTS"; }
spread() { sort -g | awk 'NR==1{min=$1} {max=$1} END{printf "%s–%s", min, max}'; }
printf '\n%-10s %-22s %-22s\n' mode "CPU % of a core" "p99 latency (ms)"
for mode in window headless; do
    printf '%-10s %-22s %-22s\n' "$mode" "$(column $mode cpu | median) ($(column $mode cpu | spread))" \
        "$(column $mode p99 | median) ($(column $mode p99 | spread))"
done
printf '\nwindow / headless CPU: %s   (targets: window under 15 %% of a core, p99 under 16 ms)\n' \
    "$(ratio "$(column window cpu | median)" "$(column headless cpu | median)")"
