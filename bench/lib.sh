# Helpers shared by the benchmark scripts (source it). Units: MB = 10^6 bytes, GiB = 2^30 bytes,
# "CPU s/GiB" = (user + system) seconds of the receiver per 2^30 bytes received.
#
# Two effects of this kind of virtual machine dominate the noise, so every script compares
# FerryLantern against its baseline within one run, alternating A B A B:
# - freed guest memory goes back to the host a few seconds after it is freed, and touching it again
#   costs 1-2 s of CPU per GiB; the scripts keep the previous run's output parked and delete it right
#   before the next timed run, so every run writes into pages the guest still holds;
# - the root file system skips recently deleted inodes, so file creation slows down after churn;
#   uploaded files are parked in a trash folder and deleted only at the end.

WORK=${WORK:-/tmp/ferrylantern-bench}
TICK=$(getconf CLK_TCK)
mkdir -p "$WORK"

die() { echo "error: $*" >&2; exit 1; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.6f", b-a}'; }
mbps() { awk -v b="$1" -v t="$2" 'BEGIN{printf "%.0f", b/t/1e6}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b == 0) print "-"; else printf "%.2f", a/b}'; }
per_gib() { awk -v x="$1" -v b="$2" 'BEGIN{printf "%.3f", x/(b/1073741824)}'; }
median() { sort -g | awk '{v[NR]=$1} END{ if (NR==0) {print "-"; exit} print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2 }'; }
spread() { sort -g | awk 'NR==1{min=$1} {max=$1} END{ if (NR==0) print "-"; else printf "%s–%s", min, max }'; }
# The arguments in a random order, one per line.
shuffled() { printf '%s\n' "$@" | shuf; }

# CPU ticks (user + system) of a process
cpu_ticks() { awk '{sub(/^.*\) /,""); print $12+$13}' "/proc/$1/stat" 2>/dev/null || echo 0; }
ticks_to_s() { awk -v t="$1" -v k="$TICK" 'BEGIN{printf "%.3f", t/k}'; }
# peak and current resident memory in MiB; reset_peak clears the peak (Linux >= 4.0)
peak_rss_mib() { awk '/^VmHWM/{printf "%.1f", $2/1024}' "/proc/$1/status"; }
rss_mib() { awk '/^VmRSS/{printf "%.1f", $2/1024}' "/proc/$1/status"; }
reset_peak() { echo 5 > "/proc/$1/clear_refs" 2>/dev/null || true; }

wait_port() { # port
    local i
    for i in $(seq 1 200); do
        ss -Hltn "sport = :$1" | grep -q . && return 0
        sleep 0.05
    done
    die "nothing listens on port $1"
}
wait_file() { # file
    local i
    for i in $(seq 1 200); do [ -s "$1" ] && return 0; sleep 0.05; done
    die "$1 did not appear"
}

# make_source FILE MIB: incompressible data, reused when it has the right size
make_source() {
    if [ "$(stat -c %s "$1" 2>/dev/null)" != "$(($2 * 1048576))" ]; then
        echo "creating $1 ($2 MiB of random data)" >&2
        head -c $(($2 * 1048576)) /dev/urandom > "$1.partial" && mv "$1.partial" "$1"
    fi
    cat "$1" > /dev/null # in the page cache, so the sender never waits for the disk
}

# Warm-memory handling: park outputs, delete the parked ones just before the next timed run.
park() { mkdir -p "$WORK/parked"; local f; for f in "$@"; do [ -e "$f" ] && mv "$f" "$(mktemp -u "$WORK/parked/p.XXXXXX")"; done; return 0; }
unpark() { rm -rf "$WORK/parked"; }
trash() { mkdir -p "$WORK/trash"; local f; for f in "$@"; do [ -e "$f" ] && mv "$f" "$(mktemp -u "$WORK/trash/t.XXXXXX")"; done; return 0; }
empty_trash() { rm -rf "$WORK/trash" "$WORK/parked"; }

# ferrylantern-server on an ephemeral port; sets FL_PID, FL_PORT, FL_DIR
start_ferrylantern() {
    FL_DIR=$WORK/fl-save
    rm -f "$WORK/fl.port"; mkdir -p "$FL_DIR"
    "$BIN/ferrylantern-server" --port 0 --port-file "$WORK/fl.port" --save-dir "$FL_DIR" --name Bench "$@" \
        > "$WORK/fl.log" 2>&1 &
    FL_PID=$!
    wait_file "$WORK/fl.port"
    FL_PORT=$(cat "$WORK/fl.port")
}
stop_ferrylantern() { [ -n "${FL_PID:-}" ] && kill "$FL_PID" 2>/dev/null && wait "$FL_PID" 2>/dev/null; FL_PID=; return 0; }

# nginx as a PUT receiver with N workers, also serving the files of NGINX_SHARE (default $WORK/share)
# under /share/; sets NGINX_PIDS (master and workers), NGINX_DIR, NGINX_PORT
start_nginx() { # workers
    NGINX_PORT=${NGINX_PORT:-18080}
    local prefix=$WORK/nginx user=
    rm -rf "$prefix"; mkdir -p "$prefix"/{logs,root/up,tmp_body,tmp_proxy,tmp_fastcgi,tmp_uwsgi,tmp_scgi}
    if [ "$(id -u)" = 0 ]; then user="user www-data;"; chown -R www-data "$prefix"/root "$prefix"/tmp_*; fi
    NGINX_SHARE=${NGINX_SHARE:-$WORK/share}; mkdir -p "$NGINX_SHARE"
    sed -e "s|@PREFIX@|$prefix|g" -e "s|@WORKERS@|$1|" -e "s|@PORT@|$NGINX_PORT|" -e "s|@USER@|$user|" \
        -e "s|@SHARE@|$NGINX_SHARE|" \
        "$BENCH/nginx_put.conf" > "$prefix/nginx.conf"
    nginx -p "$prefix" -e "$prefix/logs/error.log" -c "$prefix/nginx.conf" || die "nginx did not start"
    wait_port "$NGINX_PORT"
    NGINX_MASTER=$(cat "$prefix/nginx.pid")
    NGINX_PIDS="$NGINX_MASTER $(ps -o pid= --ppid "$NGINX_MASTER" | tr '\n' ' ')"
    NGINX_DIR=$prefix/root/up
}
stop_nginx() {
    [ -n "${NGINX_MASTER:-}" ] || return 0
    kill -QUIT "$NGINX_MASTER" 2>/dev/null || true
    local i; for i in $(seq 1 100); do kill -0 "$NGINX_MASTER" 2>/dev/null || break; sleep 0.05; done
    trash "$WORK/nginx"; NGINX_MASTER=
}
sum_ticks() { local t=0 p; for p in "$@"; do t=$((t + $(cpu_ticks "$p"))); done; echo "$t"; }
