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
    exec build/bin/ferrylantern
fi
echo "No display found; starting the receiver without a window (ferrylantern-server)." >&2
exec build/bin/ferrylantern-server "$@"
