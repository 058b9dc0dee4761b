#!/usr/bin/env bash
# Screenshots of the real application window under Xvfb on a 1366 x 768 screen, at the size it opens
# with, in the dark and the light appearance, after a few uploads (one of them audio) from a script
# posing as a phone; of the window after a phone sent two texts (a note and a link) with curl; of
# ferrylantern-server in a terminal with its QR code; and of the application
# started hidden in a tray (trayer) with dunst on a session bus of its own: the notification of three
# received files and the tray's menu; and of the phone's upload page in Chromium, taken by the browser
# tests: mid-batch in dark and light, the PIN gate and the "来自电脑" list. Each run uses a throw-away
# home folder, so your own preferences and files stay untouched.
#
#   scripts/screenshots.sh [OUTPUT_FOLDER] [SHOT…]   (default: build/screenshots; shots: dark light
#                                                     text terminal presence page, all by default)
set -euo pipefail
cd "$(dirname "$0")/.."
output=$(realpath -m "${1:-build/screenshots}")
shift || true
shots=("${@:-dark light text terminal presence page}")
shots=(${shots[*]})
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

send_text() { # port, device, text
    curl -s -o /dev/null --fail -X POST -H 'Content-Type: application/json' \
        --data-binary "$(jq -n --arg text "$3" --arg device "$2" '{text: $text, device: $device}')" \
        "http://127.0.0.1:$1/v1/text"
}

shoot() { # appearance [texts]
    local appearance=$1 home=$work/home-$1-${2:-files} name=main-window-$1
    [ "${2:-}" = texts ] && name=main-window-text
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
    if [ "${2:-}" = texts ]; then
        send_text "$port" "小明的 iPhone" $'周五的会改到下午三点，地点：302 会议室。\n记得带上投影仪的转接头。\nWi‑Fi：Guest-5G / 4821\n散会后去楼下吃饭。'
        send_text "$port" "小明的 iPhone" "https://example.com/trip/2024-05-17"
    fi
    local window
    window=$(xdotool search --sync --onlyvisible --pid "$app" --name FerryLantern | head -n 1)
    sleep 2 # waveform extraction and layout
    import -window "$window" "$output/$name.png"
    kill "$app"
    wait "$app" 2>/dev/null || true
    echo "saved $output/$name.png"
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

presence() {
    local home=$work/home-presence
    mkdir -p "$home/.config/FerryLantern" "$home/Downloads" "$home/runtime"
    printf '[General]\nappColorSchemePreference=dark\n' > "$home/.config/FerryLantern/FerryLantern.conf"
    # A session bus of its own, so the notifications go to this dunst and nowhere else.
    dbus-daemon --session --nofork --print-address=1 > "$work/bus-address" 2>/dev/null &
    pids+=($!)
    for _ in $(seq 100); do [ -s "$work/bus-address" ] && break; sleep 0.05; done
    local bus
    bus=$(head -n 1 "$work/bus-address")
    cat > "$work/dunstrc" <<'DUNST'
[global]
    font = WenQuanYi Micro Hei 11
    width = 360
    offset = 16x48
    origin = top-right
    frame_width = 1
    frame_color = "#5a5a5a"
    corner_radius = 8
    padding = 12
    horizontal_padding = 14
    markup = full
    show_indicators = false
    format = "<b>%s</b>\n%b"
[urgency_normal]
    background = "#2b2b2b"
    foreground = "#f2f2f2"
    timeout = 0
DUNST
    DBUS_SESSION_BUS_ADDRESS=$bus dunst -config "$work/dunstrc" >"$work/dunst.log" 2>&1 &
    pids+=($!)
    # A panel with a tray at the top right, where the status item docks.
    trayer --edge top --align right --widthtype request --height 32 --tint 0x303030 --transparent true --alpha 0 \
        --SetDockType true >"$work/trayer.log" 2>&1 &
    pids+=($!)
    sleep 1
    DBUS_SESSION_BUS_ADDRESS=$bus HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share \
        XDG_RUNTIME_DIR=$home/runtime build/bin/ferrylantern --hidden >"$work/app-presence.log" 2>&1 &
    local app=$!
    pids+=("$app")
    local port=
    for _ in $(seq 100); do
        port=$(ss -Hltnp | awk -v pid="pid=$app," '$0 ~ pid {split($4, a, ":"); print a[length(a)]; exit}')
        [ -n "$port" ] && break
        sleep 0.1
    done
    [ -n "$port" ] || { echo "the application did not start listening" >&2; cat "$work/app-presence.log" >&2; exit 1; }
    upload "$port" "小明的 iPhone" "$work/IMG_2041.HEIC"
    upload "$port" "小明的 iPhone" "$work/晚风.wav"
    upload "$port" "小明的 iPhone" "$work/notes.txt"
    local popup
    popup=$(xdotool search --sync --onlyvisible --classname Dunst | head -n 1)
    sleep 1 # the last update in place
    import -window "$popup" "$output/notification.png"
    echo "saved $output/notification.png"

    # The tray's menu: a right click on the icon, photographed with the panel around it.
    DBUS_SESSION_BUS_ADDRESS=$bus dunstctl close-all
    local tray
    tray=$(xdotool search --sync --onlyvisible --class trayer | head -n 1)
    eval "$(xdotool getwindowgeometry --shell "$tray")"
    xdotool mousemove $((X + WIDTH - 16)) $((Y + HEIGHT / 2)) click 3
    xdotool search --sync --onlyvisible --pid "$app" >/dev/null
    sleep 0.5
    import -window root -crop 300x150+1066+0 +repage "$output/tray-menu.png"
    echo "saved $output/tray-menu.png"
    kill "$app"
    wait "$app" 2>/dev/null || true
}

# The upload page as the browser tests photograph it, on a phone-sized screen at a LAN address.
page() {
    tests/web/install-packages.sh >/dev/null
    FERRYLANTERN_SERVER=build/bin/ferrylantern-server FERRYLANTERN_WEB_ARTIFACTS="$work/web" \
        tests/web/private-network.sh node --test --test-concurrency=1 \
        --test-name-pattern='slow link|shared file downloads|gate shows first' \
        tests/web/upload.test.mjs tests/web/pin.test.mjs >"$work/web.log" 2>&1 ||
        { cat "$work/web.log" >&2; exit 1; }
    for name in upload-page-dark upload-page-light upload-page-shared; do
        cp "$work/web/$name.png" "$output/$name.png"
    done
    cp "$work/web/pin-gate.png" "$output/upload-page-pin.png"
    echo "saved $output/upload-page-{dark,light,shared,pin}.png"
}

for shot in "${shots[@]}"; do
    case $shot in
    dark | light) shoot "$shot" ;;
    text) shoot dark texts ;;
    terminal) terminal ;;
    presence) presence ;;
    page) page ;;
    *) echo "unknown shot: $shot" >&2; exit 2 ;;
    esac
done
