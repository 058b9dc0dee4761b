#!/usr/bin/env bash
# Screenshots of the real application window under Xvfb on a 1366 x 768 screen, at the size it opens
# with, in the dark and the light appearance, after a few uploads (one of them audio) from a script
# posing as a phone; and of ferrylantern-server in a terminal with its QR code. Each run uses a
# throw-away home folder, so your own preferences and files stay untouched.
#
#   scripts/screenshots.sh [OUTPUT_FOLDER]      (default: build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
output=$(realpath -m "${1:-build/screenshots}")
mkdir -p "$output"

scripts/install-deps.sh screenshots
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target ferrylantern ferrylantern-server

work=$(mktemp -d /tmp/ferrylantern-shots.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1366x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.05; done
export DISPLAY=$display

# Sample files a phone might send: a song (generated), a photo-sized binary and a document.
# A short phrase: plucked notes that decay, the right channel a little behind the left.
ffmpeg -v error -f lavfi -i "aevalsrc='0.7*exp(-3*mod(t,0.5))*sin(2*PI*(220+110*floor(mod(t*2,4)))*t)|0.6*exp(-4*mod(t+0.2,0.5))*sin(2*PI*330*t)':s=44100:d=8" \
    -c:a pcm_s16le "$work/晚风.wav"
head -c 2400000 /dev/urandom > "$work/IMG_2041.HEIC"
printf 'Meeting notes\n' > "$work/notes.txt"

upload() { # port, device, file
    curl -s -o /dev/null --fail -X POST --data-binary "@$3" -H 'Content-Type: application/octet-stream' \
        "http://127.0.0.1:$1/v1/upload?device=$(printf %s "$2" | jq -sRr @uri)&filename=$(basename "$3" | jq -sRr @uri)"
}

shoot() { # appearance
    local appearance=$1 home=$work/home-$1
    mkdir -p "$home/.config/FerryLantern" "$home/Downloads"
    printf '[General]\nappColorSchemePreference=%s\n' "$appearance" > "$home/.config/FerryLantern/FerryLantern.conf"
    HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$home build/bin/ferrylantern >"$work/app-$appearance.log" 2>&1 &
    local app=$!
    pids+=("$app")
    local port=
    for _ in $(seq 100); do
        port=$(ss -Hltnp | awk -v pid="pid=$app," '$0 ~ pid {split($4, a, ":"); print a[length(a)]; exit}')
        [ -n "$port" ] && break
        sleep 0.1
    done
    [ -n "$port" ] || { echo "the application did not start listening" >&2; cat "$work/app-$appearance.log" >&2; exit 1; }
    upload "$port" "小明的 iPhone" "$work/IMG_2041.HEIC"
    upload "$port" "小明的 iPhone" "$work/晚风.wav"
    upload "$port" "Office PC" "$work/notes.txt"
    local window
    window=$(xdotool search --sync --onlyvisible --pid "$app" --name FerryLantern | head -n 1)
    sleep 2 # waveform extraction and layout
    import -window "$window" "$output/main-window-$appearance.png"
    kill "$app"
    wait "$app" 2>/dev/null || true
    echo "saved $output/main-window-$appearance.png"
}

terminal() {
    local home=$work/home-terminal
    mkdir -p "$home"
    HOME=$home xterm -geometry 72x42+0+0 -fa 'DejaVu Sans Mono:antialias=false:hinting=false' -fs 9 -bg black -fg white -T ferrylantern-server \
        -e build/bin/ferrylantern-server --port 0 --save-dir "$home/in" --name "Office PC" &
    local term=$!
    pids+=("$term")
    local window
    window=$(xdotool search --sync --onlyvisible --pid "$term" | head -n 1)
    sleep 2 # the server's start and its lines
    import -window "$window" "$output/server-terminal.png"
    kill "$term"
    wait "$term" 2>/dev/null || true
    echo "saved $output/server-terminal.png"
}

shoot dark
shoot light
terminal
