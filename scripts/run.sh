#!/usr/bin/env bash
# Builds and runs FerryLantern: installs what is missing, builds incrementally, then opens the desktop
# application. Without a display (a headless machine, an SSH session) it starts the receiver without a
# window, ferrylantern-server, in the foreground instead. Arguments go to ferrylantern-server.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target ferrylantern ferrylantern-server

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
    # The address a phone opens, before the window shows it with its QR code.
    best=$(build/bin/ferrylantern-server --addresses | head -n 1 | cut -f 1)
    if [[ -z "$best" ]]; then
        echo "No network address found: connect this computer to the phone's Wi-Fi (or its hotspot)." >&2
    elif ss -Hltn 'sport = :53317' 2>/dev/null | grep -q .; then
        echo "Phones open http://$best:PORT/ (port 53317 is taken: the window shows the port in use)." >&2
    else
        echo "Phones open http://$best:53317/ (also shown in the window, with a QR code)." >&2
    fi
    exec build/bin/ferrylantern
fi
echo "No display found; starting the receiver without a window (ferrylantern-server)." >&2
exec build/bin/ferrylantern-server "$@"
