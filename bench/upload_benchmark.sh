#!/usr/bin/env bash
# Upload throughput of ferrylantern-server over 127.0.0.1 against baselines measured in the same run.
# Every part runs ROUNDS rounds; each round measures its receivers in a random order, and the output of
# a measurement is deleted just before the next one (never right after, which would charge the freeing
# of its memory to whoever runs next). Each receiver's CPU is read from /proc for its own processes.
#
#   single      one raw upload of SIZE_MIB (POST) beside the physical limit (socat reading 256 KiB at a
#               time from TCP into a file) and nginx PUT (one worker): MB/s and CPU s/GiB (median and
#               min–max), ratios to socat and nginx, the server's peak RSS growth; also the same server
#               receiving through its buffer instead of splice (--no-splice), to show the difference.
#               Every receiver gets the file from the same sender, raw_upload.py (sendfile from the page
#               cache), so that only the receivers differ: a sender that copies through its own buffer
#               (curl -T sends 64 KiB at a time) is slower than these receivers and sets the pace.
#   concurrent  PAR raw uploads of CONC_MIB at once through one batch preflight's tickets, all checked
#               byte for byte, beside nginx with two workers.
#   multipart   MPAR multipart/form-data uploads of MP_MIB at once (curl -F), all byte-identical; the
#               server's peak RSS growth. 63 MiB is the largest whole number of MiB whose body stays within
#               the 64 MiB a multipart body may carry.
#   burst       BURST_N uploads of 1 KiB on BURST_N connections at once (no tickets, confirmation off);
#               requests per second beside nginx PUT with Connection: close.
#   progress    how many progress events one upload sends per second, whatever the chunk size.
#   download    one download of a shared file of SIZE_MIB (curl to /dev/null) from ferrylantern-server
#               --share beside nginx serving the same file with sendfile (one worker): MB/s and the
#               server's CPU s/GiB (median and min–max), the ratio to nginx; then both downloads checked
#               byte for byte against the file.
#
# Usage: bench/upload_benchmark.sh [single] [concurrent] [multipart] [burst] [progress] [download]
#        (default: all)
# Env: SIZE_MIB (1024) ROUNDS (5) PAR (64) CONC_MIB (32) MPAR (16) MP_MIB (63) BURST_N (500) BURST_ROUNDS (5)
set -euo pipefail
BENCH=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$BENCH")
BIN=${BIN:-$ROOT/build/bin}
. "$BENCH/lib.sh"

SIZE_MIB=${SIZE_MIB:-1024}; RUNS=${ROUNDS:-${RUNS:-5}}; PAR=${PAR:-64}; CONC_MIB=${CONC_MIB:-32}
MPAR=${MPAR:-16}; MP_MIB=${MP_MIB:-63}
BURST_N=${BURST_N:-500}; BURST_ROUNDS=${BURST_ROUNDS:-5}; SOCAT_PORT=${SOCAT_PORT:-18090}
PARTS=${*:-single concurrent multipart burst progress download}
(( RUNS >= 5 )) || echo "warning: fewer than 5 rounds; medians of so few swing" >&2

"$ROOT/scripts/install-deps.sh" bench
[ -x "$BIN/ferrylantern-server" ] || die "build first: cmake --build build"
ulimit -n 65536 2>/dev/null || ulimit -n 8192 2>/dev/null || true
BUFFER_PID=
trap 'stop_ferrylantern; stop_nginx; [ -n "$BUFFER_PID" ] && kill "$BUFFER_PID" 2>/dev/null; empty_trash' EXIT
RESULTS=$WORK/results.tsv; : > "$RESULTS"
record() { printf '%s\t%s\t%s\n' "$1" "$2" "$3" >> "$RESULTS"; }
values() { awk -F'\t' -v n="$1" -v m="$2" '$1==n && $2==m {print $3}' "$RESULTS"; }
value() { values "$1" "$2" | median; }
# "median (min–max)" of a receiver's measure
summary() { printf '%s (%s)' "$(value "$1" "$2")" "$(values "$1" "$2" | spread)"; }

single_ferrylantern() { # name, pid, port, idle RSS, source, bytes, check
    local name=$1 pid=$2 port=$3 idle=$4 source=$5 bytes=$6 dest=$FL_DIR/bench/big.bin
    unpark; reset_peak "$pid"
    local c0 c1 out code seconds
    c0=$(cpu_ticks "$pid")
    out=$(python3 "$BENCH/raw_upload.py" 127.0.0.1 "$port" "$source" POST "/v1/upload?filename=big.bin&device=bench")
    c1=$(cpu_ticks "$pid")
    read -r code seconds <<< "$out"
    [ "$code" = 200 ] || die "$name answered $code"
    [ "$(stat -c %s "$dest")" = "$bytes" ] || die "$name stored the wrong size"
    [ "$7" = check ] && { cmp -s "$source" "$dest" || die "$name stored different bytes"; }
    record "$name" MB/s "$(mbps "$bytes" "$seconds")"
    record "$name" cpu_s/GiB "$(per_gib "$(ticks_to_s $((c1 - c0)))" "$bytes")"
    record "$name" peak_rss_growth_MiB "$(awk -v p="$(peak_rss_mib "$pid")" -v i="$idle" 'BEGIN{printf "%.1f", p-i}')"
    park "$dest"
}

single_socat() { # source, bytes
    local source=$1 bytes=$2 dest=$WORK/socat.out
    unpark
    /usr/bin/time -f '%U %S %M' -o "$WORK/socat.time" \
        socat -u -b 262144 "TCP-LISTEN:$SOCAT_PORT,reuseaddr,bind=127.0.0.1" "OPEN:$dest,creat,trunc" &
    local receiver=$!
    wait_port "$SOCAT_PORT"
    local out code seconds
    out=$(python3 "$BENCH/raw_upload.py" 127.0.0.1 "$SOCAT_PORT" "$source")
    wait "$receiver"
    read -r code seconds <<< "$out"
    [ "$(stat -c %s "$dest")" = "$bytes" ] || die "socat stored the wrong size"
    record socat MB/s "$(mbps "$bytes" "$seconds")"
    record socat cpu_s/GiB "$(per_gib "$(awk '{print $1+$2}' "$WORK/socat.time")" "$bytes")"
    park "$dest"
}

single_nginx() { # source, bytes
    local source=$1 bytes=$2 dest=$NGINX_DIR/big.bin
    unpark
    local c0 c1 out code seconds
    c0=$(sum_ticks $NGINX_PIDS)
    out=$(python3 "$BENCH/raw_upload.py" 127.0.0.1 "$NGINX_PORT" "$source" PUT /up/big.bin)
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
    # The same server receiving through its buffer; both save into the same folder, one at a time.
    start_ferrylantern --no-splice
    BUFFER_PID=$FL_PID
    local buffer_port=$FL_PORT buffer_idle
    buffer_idle=$(rss_mib "$BUFFER_PID")
    start_ferrylantern; start_nginx 1
    FL_IDLE=$(rss_mib "$FL_PID")
    for run in $(seq 1 "$RUNS"); do
        local check=no receiver; [ "$run" = "$RUNS" ] && check=check
        for receiver in $(shuffled ferrylantern buffer socat nginx); do
            case $receiver in
                ferrylantern) single_ferrylantern ferrylantern "$FL_PID" "$FL_PORT" "$FL_IDLE" "$source" "$bytes" "$check" ;;
                buffer) single_ferrylantern ferrylantern_buffer "$BUFFER_PID" "$buffer_port" "$buffer_idle" \
                    "$source" "$bytes" "$check" ;;
                socat) single_socat "$source" "$bytes" ;;
                nginx) single_nginx "$source" "$bytes" ;;
            esac
        done
        echo "single: round $run of $RUNS done" >&2
    done
    stop_nginx; stop_ferrylantern
    kill "$BUFFER_PID" 2>/dev/null && wait "$BUFFER_PID" 2>/dev/null; BUFFER_PID=; unpark
    local fl socat nginx
    fl=$(value ferrylantern MB/s); socat=$(value socat MB/s); nginx=$(value nginx_1worker MB/s)
    echo
    echo "== single raw upload of $SIZE_MIB MiB, median (min–max) of $RUNS rounds (MB = 1e6 B)"
    printf '%-16s %-20s %-22s %s\n' receiver MB/s "CPU s/GiB" "peak RSS growth MiB"
    printf '%-16s %-20s %-22s %s\n' ferrylantern "$(summary ferrylantern MB/s)" "$(summary ferrylantern cpu_s/GiB)" \
        "$(summary ferrylantern peak_rss_growth_MiB)"
    printf '%-16s %-20s %-22s %s\n' fl-no-splice "$(summary ferrylantern_buffer MB/s)" \
        "$(summary ferrylantern_buffer cpu_s/GiB)" "$(summary ferrylantern_buffer peak_rss_growth_MiB)"
    printf '%-16s %-20s %-22s %s\n' socat-256k "$(summary socat MB/s)" "$(summary socat cpu_s/GiB)" -
    printf '%-16s %-20s %-22s %s\n' nginx-1-worker "$(summary nginx_1worker MB/s)" "$(summary nginx_1worker cpu_s/GiB)" -
    echo "ratio ferrylantern/socat: $(ratio "$fl" "$socat")   (target >= 1.0)"
    echo "ratio ferrylantern/nginx: $(ratio "$fl" "$nginx")   (target >= 1.0)"
    echo "ferrylantern CPU: $(value ferrylantern cpu_s/GiB) s/GiB   (target <= 0.3)"
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
        local receiver
        for receiver in $(shuffled ferrylantern nginx); do
            if [ "$receiver" = ferrylantern ]; then
                # One batch preflight issues a ticket per file; each upload presents its own.
                local files
                files=$(seq 1 "$PAR" | jq -R --argjson size "$bytes" '{filename: ("c" + .), byteCount: $size}' | jq -s '{device: "bench", files: .}')
                curl -s -X POST --data-binary "$files" "http://127.0.0.1:$FL_PORT/v1/upload/preflight/batch" |
                    jq -r --arg base "http://127.0.0.1:$FL_PORT/v1/upload" \
                        '.items[] | "\($base)?filename=\(.filename)&device=bench&uploadId=\(.uploadId)"' > "$WORK/fl.urls"
                METHOD=POST concurrent_round ferrylantern "$WORK/fl.urls" "$source" "$bytes" "$FL_DIR/bench" "$FL_PID"
            else
                seq 1 "$PAR" | sed "s|^|http://127.0.0.1:$NGINX_PORT/up/c|" > "$WORK/nginx.urls"
                METHOD=PUT concurrent_round nginx_2workers "$WORK/nginx.urls" "$source" "$bytes" "$NGINX_DIR" $NGINX_PIDS
            fi
        done
        echo "concurrent: round $run of $RUNS done" >&2
    done
    stop_nginx; stop_ferrylantern; unpark
    local fl nginx
    fl=$(value ferrylantern MB/s); nginx=$(value nginx_2workers MB/s)
    echo
    echo "== $PAR concurrent uploads of $CONC_MIB MiB, all byte-identical, median (min–max) of $RUNS rounds"
    printf '%-16s %-20s %s\n' receiver MB/s "CPU s/GiB"
    printf '%-16s %-20s %s\n' ferrylantern "$(summary ferrylantern MB/s)" "$(summary ferrylantern cpu_s/GiB)"
    printf '%-16s %-20s %s\n' nginx-2-workers "$(summary nginx_2workers MB/s)" "$(summary nginx_2workers cpu_s/GiB)"
    echo "ratio ferrylantern/nginx: $(ratio "$fl" "$nginx")   (target >= 1.0)"
}

run_multipart() {
    local source=$WORK/source_${MP_MIB}m.bin bytes=$((MP_MIB * 1048576))
    make_source "$source" "$MP_MIB"
    start_ferrylantern
    local idle; idle=$(rss_mib "$FL_PID")
    for run in $(seq 1 "$RUNS"); do
        unpark; reset_peak "$FL_PID"
        local c0 c1 t0 t1
        c0=$(cpu_ticks "$FL_PID"); t0=$(now)
        seq 1 "$MPAR" | xargs -P "$MPAR" -I{} curl -s -o /dev/null -w '%{http_code}\n' \
            -F "file=@$source;filename=m{}.bin" "http://127.0.0.1:$FL_PORT/v1/upload?device=bench" > "$WORK/codes"
        t1=$(now); c1=$(cpu_ticks "$FL_PID")
        local bad; bad=$(grep -cv '^200$' "$WORK/codes" || true)
        [ "$bad" = 0 ] || die "multipart: $bad uploads failed"
        local f count=0
        for f in "$FL_DIR"/bench/m*.bin; do
            cmp -s "$source" "$f" || die "multipart: $f differs from the source"
            count=$((count + 1))
        done
        [ "$count" = "$MPAR" ] || die "multipart: $count of $MPAR files saved"
        record multipart MB/s "$(mbps $((MPAR * bytes)) "$(elapsed "$t0" "$t1")")"
        record multipart cpu_s/GiB "$(per_gib "$(ticks_to_s $((c1 - c0)))" $((MPAR * bytes)))"
        record multipart peak_rss_growth_MiB "$(awk -v p="$(peak_rss_mib "$FL_PID")" -v i="$idle" 'BEGIN{printf "%.1f", p-i}')"
        park "$FL_DIR"/bench/m*.bin
        echo "multipart: round $run of $RUNS done" >&2
    done
    stop_ferrylantern; unpark
    echo
    echo "== $MPAR multipart uploads of $MP_MIB MiB at once, all byte-identical, median (min–max) of $RUNS rounds"
    printf '%-16s %-20s %-22s %s\n' receiver MB/s "CPU s/GiB" "peak RSS growth MiB"
    printf '%-16s %-20s %-22s %s\n' ferrylantern "$(summary multipart MB/s)" "$(summary multipart cpu_s/GiB)" \
        "$(summary multipart peak_rss_growth_MiB)"
    echo "peak RSS growth: $(value multipart peak_rss_growth_MiB) MiB   (target < 32)"
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
        # File creation slows down after deletes and recovers over minutes; a random order keeps that
        # drift from favouring either side.
        for receiver in $(shuffled ferrylantern nginx); do
            if [ "$receiver" = ferrylantern ]; then
                burst_rounds ferrylantern POST "http://127.0.0.1:$FL_PORT/v1/upload?device=bench&filename={name}"
                trash "$FL_DIR/bench"
            else
                burst_rounds nginx_1worker PUT "http://127.0.0.1:$NGINX_PORT/up/{name}"
                trash "$NGINX_DIR"; mkdir -p "$NGINX_DIR"; [ "$(id -u)" = 0 ] && chown www-data "$NGINX_DIR"
            fi
        done
        echo "burst: round $run of $RUNS done" >&2
    done
    stop_nginx; stop_ferrylantern
    local fl nginx
    fl=$(value ferrylantern req/s); nginx=$(value nginx_1worker req/s)
    echo
    echo "== $BURST_N uploads of 1 KiB on $BURST_N connections at once, median of $((RUNS * BURST_ROUNDS)) rounds"
    printf '%-16s %s\n' receiver req/s
    printf '%-16s %s\n' ferrylantern "$(summary ferrylantern req/s)"
    printf '%-16s %s\n' nginx-1-worker "$(summary nginx_1worker req/s)"
    echo "ratio ferrylantern/nginx: $(ratio "$fl" "$nginx")   (target >= 1.0; file creation dominates)"
}

run_progress() {
    echo
    echo "== progress events of one upload"
    "$BIN/progress_rate_bench"
}

download_round() { # name, url, bytes, pids...
    local name=$1 url=$2 bytes=$3; shift 3
    local c0 c1 out code seconds size
    c0=$(sum_ticks "$@")
    out=$(curl -s -o /dev/null -w '%{http_code} %{time_total} %{size_download}' "$url")
    c1=$(sum_ticks "$@")
    read -r code seconds size <<< "$out"
    [ "$code" = 200 ] || die "$name answered $code"
    [ "$size" = "$bytes" ] || die "$name sent $size of $bytes bytes"
    record "$name" MB/s "$(mbps "$bytes" "$seconds")"
    record "$name" cpu_s/GiB "$(per_gib "$(ticks_to_s $((c1 - c0)))" "$bytes")"
}

run_download() {
    local source=$WORK/share/shared_${SIZE_MIB}m.bin bytes=$((SIZE_MIB * 1048576))
    mkdir -p "$WORK/share"
    make_source "$source" "$SIZE_MIB"
    start_ferrylantern --share "$source"; start_nginx 1
    local id fl_url nginx_url
    id=$(curl -s "http://127.0.0.1:$FL_PORT/v1/shared" | jq -r '.items[0].id')
    fl_url="http://127.0.0.1:$FL_PORT/v1/shared/$id"
    nginx_url="http://127.0.0.1:$NGINX_PORT/share/$(basename "$source")"
    for run in $(seq 1 "$RUNS"); do
        local receiver
        for receiver in $(shuffled ferrylantern nginx); do
            if [ "$receiver" = ferrylantern ]; then
                download_round ferrylantern_download "$fl_url" "$bytes" "$FL_PID"
            else
                download_round nginx_download "$nginx_url" "$bytes" $NGINX_PIDS
            fi
        done
        echo "download: round $run of $RUNS done" >&2
    done
    curl -s "$fl_url" | cmp -s - "$source" || die "ferrylantern sent different bytes"
    curl -s "$nginx_url" | cmp -s - "$source" || die "nginx sent different bytes"
    stop_nginx; stop_ferrylantern
    local fl nginx
    fl=$(value ferrylantern_download MB/s); nginx=$(value nginx_download MB/s)
    echo
    echo "== one download of $SIZE_MIB MiB (curl to /dev/null), both byte-identical, median (min–max) of $RUNS rounds"
    printf '%-16s %-20s %s\n' sender MB/s "CPU s/GiB"
    printf '%-16s %-20s %s\n' ferrylantern "$(summary ferrylantern_download MB/s)" "$(summary ferrylantern_download cpu_s/GiB)"
    printf '%-16s %-20s %s\n' nginx-1-worker "$(summary nginx_download MB/s)" "$(summary nginx_download cpu_s/GiB)"
    echo "ratio ferrylantern/nginx: $(ratio "$fl" "$nginx")   (target >= 0.95)"
}

for part in $PARTS; do
    case $part in
        single) run_single ;;
        concurrent) run_concurrent ;;
        multipart) run_multipart ;;
        burst) run_burst ;;
        progress) run_progress ;;
        download) run_download ;;
        *) die "unknown part $part (single, concurrent, multipart, burst, progress, download)" ;;
    esac
done
echo
echo "raw figures: $RESULTS"
