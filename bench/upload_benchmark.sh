#!/usr/bin/env bash
# Upload throughput of ferrylantern-server over 127.0.0.1 against baselines measured in the same run:
#
#   single      one raw upload of SIZE_MIB (curl -T, POST) alternating with the physical limit:
#               socat reading 256 KiB at a time from TCP into a file; nginx PUT (one worker) beside it.
#               MB/s, the ratio to socat, the server's CPU s/GiB and its peak RSS growth.
#   concurrent  PAR uploads of CONC_MIB at once through one batch preflight's tickets; all checked
#               byte for byte; aggregate MB/s beside nginx with two workers.
#   burst       BURST_N uploads of 1 KiB on BURST_N connections at once (no tickets, confirmation off);
#               requests per second beside nginx PUT with Connection: close.
#   progress    how many progress events one upload sends per second, whatever the chunk size.
#
# Usage: bench/upload_benchmark.sh [single] [concurrent] [burst] [progress]   (default: all)
# Env: SIZE_MIB (1024) RUNS (3) PAR (64) CONC_MIB (32) BURST_N (500) BURST_ROUNDS (5)
set -euo pipefail
BENCH=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$BENCH")
BIN=${BIN:-$ROOT/build/bin}
. "$BENCH/lib.sh"

SIZE_MIB=${SIZE_MIB:-1024}; RUNS=${RUNS:-3}; PAR=${PAR:-64}; CONC_MIB=${CONC_MIB:-32}
BURST_N=${BURST_N:-500}; BURST_ROUNDS=${BURST_ROUNDS:-5}; SOCAT_PORT=${SOCAT_PORT:-18090}
PARTS=${*:-single concurrent burst progress}

"$ROOT/scripts/install-deps.sh" bench
[ -x "$BIN/ferrylantern-server" ] || die "build first: cmake --build build"
ulimit -n 65536 2>/dev/null || ulimit -n 8192 2>/dev/null || true
trap 'stop_ferrylantern; stop_nginx; empty_trash' EXIT
RESULTS=$WORK/results.tsv; : > "$RESULTS"
record() { printf '%s\t%s\t%s\n' "$1" "$2" "$3" >> "$RESULTS"; }
value() { awk -F'\t' -v n="$1" -v m="$2" '$1==n && $2==m {print $3}' "$RESULTS" | median; }

single_ferrylantern() { # source, bytes, check
    local source=$1 bytes=$2 dest=$FL_DIR/bench/big.bin
    unpark; reset_peak "$FL_PID"
    local c0 c1 out code seconds
    c0=$(cpu_ticks "$FL_PID")
    out=$(curl -s -o /dev/null -w '%{http_code} %{time_total}' -T "$source" -X POST \
        "http://127.0.0.1:$FL_PORT/v1/upload?filename=big.bin&device=bench")
    c1=$(cpu_ticks "$FL_PID")
    read -r code seconds <<< "$out"
    [ "$code" = 200 ] || die "ferrylantern answered $code"
    [ "$(stat -c %s "$dest")" = "$bytes" ] || die "ferrylantern stored the wrong size"
    [ "$3" = check ] && { cmp -s "$source" "$dest" || die "ferrylantern stored different bytes"; }
    record ferrylantern MB/s "$(mbps "$bytes" "$seconds")"
    record ferrylantern cpu_s/GiB "$(per_gib "$(ticks_to_s $((c1 - c0)))" "$bytes")"
    record ferrylantern peak_rss_growth_MiB "$(awk -v p="$(peak_rss_mib "$FL_PID")" -v i="$FL_IDLE" 'BEGIN{printf "%.1f", p-i}')"
    park "$dest"
}

single_socat() { # source, bytes
    local source=$1 bytes=$2 dest=$WORK/socat.out
    unpark
    /usr/bin/time -f '%U %S %M' -o "$WORK/socat.time" \
        socat -u -b 262144 "TCP-LISTEN:$SOCAT_PORT,reuseaddr,bind=127.0.0.1" "OPEN:$dest,creat,trunc" &
    local receiver=$!
    wait_port "$SOCAT_PORT"
    local t0 t1
    t0=$(now)
    socat -u -b 262144 "FILE:$source" "TCP:127.0.0.1:$SOCAT_PORT"
    wait "$receiver"
    t1=$(now)
    [ "$(stat -c %s "$dest")" = "$bytes" ] || die "socat stored the wrong size"
    record socat MB/s "$(mbps "$bytes" "$(elapsed "$t0" "$t1")")"
    record socat cpu_s/GiB "$(per_gib "$(awk '{print $1+$2}' "$WORK/socat.time")" "$bytes")"
    park "$dest"
}

single_nginx() { # source, bytes
    local source=$1 bytes=$2 dest=$NGINX_DIR/big.bin
    unpark
    local c0 c1 out code seconds
    c0=$(sum_ticks $NGINX_PIDS)
    out=$(curl -s -o /dev/null -w '%{http_code} %{time_total}' -T "$source" "http://127.0.0.1:$NGINX_PORT/up/big.bin")
    c1=$(sum_ticks $NGINX_PIDS)
    read -r code seconds <<< "$out"
    case $code in 201|204) ;; *) die "nginx answered $code" ;; esac
    record nginx_1worker MB/s "$(mbps "$bytes" "$seconds")"
    record nginx_1worker cpu_s/GiB "$(per_gib "$(ticks_to_s $((c1 - c0)))" "$bytes")"
    park "$dest"
}

run_single() {
    local source=$WORK/source_${SIZE_MIB}m.bin bytes=$((SIZE_MIB * 1048576))
    make_source "$source" "$SIZE_MIB"
    start_ferrylantern; start_nginx 1
    FL_IDLE=$(rss_mib "$FL_PID")
    for run in $(seq 1 "$RUNS"); do
        local check=no; [ "$run" = "$RUNS" ] && check=check
        single_ferrylantern "$source" "$bytes" "$check"
        single_socat "$source" "$bytes"
        single_nginx "$source" "$bytes"
        echo "single: run $run of $RUNS done" >&2
    done
    stop_nginx; stop_ferrylantern; unpark
    local fl socat nginx
    fl=$(value ferrylantern MB/s); socat=$(value socat MB/s); nginx=$(value nginx_1worker MB/s)
    echo
    echo "== single raw upload of $SIZE_MIB MiB, median of $RUNS (MB = 1e6 B)"
    printf '%-16s %8s %12s %20s\n' receiver MB/s "CPU s/GiB" "peak RSS growth MiB"
    printf '%-16s %8s %12s %20s\n' ferrylantern "$fl" "$(value ferrylantern cpu_s/GiB)" "$(value ferrylantern peak_rss_growth_MiB)"
    printf '%-16s %8s %12s %20s\n' socat-256k "$socat" "$(value socat cpu_s/GiB)" -
    printf '%-16s %8s %12s %20s\n' nginx-1-worker "$nginx" "$(value nginx_1worker cpu_s/GiB)" -
    echo "ratio ferrylantern/socat: $(ratio "$fl" "$socat")   (target >= 0.95)"
    echo "ratio ferrylantern/nginx: $(ratio "$fl" "$nginx")"
}

concurrent_round() { # name, url-for-index function, source, bytes-per-file, folder, pids...
    local name=$1 urls=$2 source=$3 bytes=$4 folder=$5; shift 5
    unpark
    local c0 c1 t0 t1
    c0=$(sum_ticks "$@"); t0=$(now)
    xargs -P "$PAR" -a "$urls" -I{} curl -s -o /dev/null -w '%{http_code}\n' -T "$source" -X "$METHOD" '{}' > "$WORK/codes"
    t1=$(now); c1=$(sum_ticks "$@")
    local bad
    bad=$(grep -cvE '^(200|201|204)$' "$WORK/codes" || true)
    [ "$bad" = 0 ] || die "$name: $bad uploads failed"
    local f count=0
    for f in "$folder"/c*; do
        cmp -s "$source" "$f" || die "$name: $f differs from the source"
        count=$((count + 1))
    done
    [ "$count" = "$PAR" ] || die "$name: $count of $PAR files saved"
    record "$name" MB/s "$(mbps $((PAR * bytes)) "$(elapsed "$t0" "$t1")")"
    record "$name" cpu_s/GiB "$(per_gib "$(ticks_to_s $((c1 - c0)))" $((PAR * bytes)))"
    park "$folder"/c*
}

run_concurrent() {
    local source=$WORK/source_${CONC_MIB}m.bin bytes=$((CONC_MIB * 1048576))
    make_source "$source" "$CONC_MIB"
    start_ferrylantern; start_nginx 2
    for run in $(seq 1 "$RUNS"); do
        # One batch preflight issues a ticket per file; each upload presents its own.
        local files
        files=$(seq 1 "$PAR" | jq -R --argjson size "$bytes" '{filename: ("c" + .), byteCount: $size}' | jq -s '{device: "bench", files: .}')
        curl -s -X POST --data-binary "$files" "http://127.0.0.1:$FL_PORT/v1/upload/preflight/batch" |
            jq -r --arg base "http://127.0.0.1:$FL_PORT/v1/upload" \
                '.items[] | "\($base)?filename=\(.filename)&device=bench&uploadId=\(.uploadId)"' > "$WORK/fl.urls"
        METHOD=POST concurrent_round ferrylantern "$WORK/fl.urls" "$source" "$bytes" "$FL_DIR/bench" "$FL_PID"
        seq 1 "$PAR" | sed "s|^|http://127.0.0.1:$NGINX_PORT/up/c|" > "$WORK/nginx.urls"
        METHOD=PUT concurrent_round nginx_2workers "$WORK/nginx.urls" "$source" "$bytes" "$NGINX_DIR" $NGINX_PIDS
        echo "concurrent: run $run of $RUNS done" >&2
    done
    stop_nginx; stop_ferrylantern; unpark
    local fl nginx
    fl=$(value ferrylantern MB/s); nginx=$(value nginx_2workers MB/s)
    echo
    echo "== $PAR concurrent uploads of $CONC_MIB MiB, all byte-identical, median of $RUNS"
    printf '%-16s %8s %12s\n' receiver MB/s "CPU s/GiB"
    printf '%-16s %8s %12s\n' ferrylantern "$fl" "$(value ferrylantern cpu_s/GiB)"
    printf '%-16s %8s %12s\n' nginx-2-workers "$nginx" "$(value nginx_2workers cpu_s/GiB)"
    echo "ratio ferrylantern/nginx: $(ratio "$fl" "$nginx")"
}

burst_rounds() { # name, method, url template
    node "$BENCH/burst_upload.js" "$2" "$3" "$BURST_N" "$BURST_ROUNDS" 1024 > "$WORK/burst.out"
    local ms ok failed
    while read -r ms ok failed; do
        [ "$failed" = 0 ] || echo "warning: $1: $failed of $BURST_N failed" >&2
        record "$1" req/s "$(awk -v n="$ok" -v m="$ms" 'BEGIN{printf "%.0f", n/m*1000}')"
    done < "$WORK/burst.out"
}

run_burst() {
    start_ferrylantern; start_nginx 1
    for run in $(seq 1 "$RUNS"); do
        # A B B A: file creation slows down after deletes and recovers over minutes; alternating the
        # order keeps that drift from favouring either side.
        local order="ferrylantern nginx"; [ $((run % 2)) = 0 ] && order="nginx ferrylantern"
        for receiver in $order; do
            if [ "$receiver" = ferrylantern ]; then
                burst_rounds ferrylantern POST "http://127.0.0.1:$FL_PORT/v1/upload?device=bench&filename={name}"
                trash "$FL_DIR/bench"
            else
                burst_rounds nginx_1worker PUT "http://127.0.0.1:$NGINX_PORT/up/{name}"
                trash "$NGINX_DIR"; mkdir -p "$NGINX_DIR"; [ "$(id -u)" = 0 ] && chown www-data "$NGINX_DIR"
            fi
        done
        echo "burst: run $run of $RUNS done" >&2
    done
    stop_nginx; stop_ferrylantern
    local fl nginx
    fl=$(value ferrylantern req/s); nginx=$(value nginx_1worker req/s)
    echo
    echo "== $BURST_N uploads of 1 KiB on $BURST_N connections at once, median of $((RUNS * BURST_ROUNDS)) rounds"
    printf '%-16s %8s\n' receiver req/s
    printf '%-16s %8s\n' ferrylantern "$fl"
    printf '%-16s %8s\n' nginx-1-worker "$nginx"
    echo "ratio ferrylantern/nginx: $(ratio "$fl" "$nginx")   (target >= 1.0; file creation dominates)"
}

run_progress() {
    echo
    echo "== progress events of one upload"
    "$BIN/progress_rate_bench"
}

for part in $PARTS; do
    case $part in
        single) run_single ;;
        concurrent) run_concurrent ;;
        burst) run_burst ;;
        progress) run_progress ;;
        *) die "unknown part $part (single, concurrent, burst, progress)" ;;
    esac
done
echo
echo "raw figures: $RESULTS"
