#!/usr/bin/env bash
# Runs a command with a PulseAudio server reachable, for the audio playback tests:
#
#   scripts/with-pulseaudio.sh <command> [arguments...]
#
# When a sound server already answers (a desktop session, or PULSE_SERVER set by the caller), the
# command simply runs. Otherwise a private PulseAudio daemon is started with a null sink (no sound
# card needed) on a socket in a temporary folder, PULSE_SERVER points the command at it, and the daemon
# is stopped afterwards. Works as root and as a user. Without the pulseaudio program the command runs
# anyway and the tests that need a sound server skip themselves. Exits with the command's status.
set -euo pipefail

if (($# == 0)); then
    echo "usage: $0 <command> [arguments...]" >&2
    exit 2
fi

if ! command -v pulseaudio >/dev/null || ! command -v pactl >/dev/null; then
    echo "with-pulseaudio: pulseaudio or pactl not installed; running without a sound server" >&2
    exec "$@"
fi

if pactl info >/dev/null 2>&1; then
    exec "$@"
fi

runtime=$(mktemp -d "${TMPDIR:-/tmp}/ferrylantern-pulse.XXXXXX")
chmod 700 "$runtime"
export PULSE_RUNTIME_PATH=$runtime
export PULSE_STATE_PATH=$runtime/state
export PULSE_SERVER=unix:$runtime/native

stop_server() {
    local pid
    pid=$(cat "$runtime/pid" 2>/dev/null || true)
    if [[ -n "$pid" ]] && kill "$pid" 2>/dev/null; then
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
    fi
    rm -rf "$runtime"
}
trap stop_server EXIT

# No realtime scheduling, no shared memory and no idle exit: it runs in containers and as root, and lives
# exactly as long as the command. The null sink at 48 kHz stands in for a sound card.
pulseaudio --daemonize=yes --system=false -n --exit-idle-time=-1 \
    --realtime=false --high-priority=false --disable-shm=yes \
    --load="module-null-sink sink_name=ferrylantern_null rate=48000" \
    --load="module-native-protocol-unix auth-anonymous=1 socket=$runtime/native" \
    --log-target="file:$runtime/pulseaudio.log" 2>/dev/null || true

for _ in $(seq 50); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
done
if ! pactl info >/dev/null 2>&1; then
    echo "with-pulseaudio: could not start PulseAudio; running without a sound server" >&2
    unset PULSE_SERVER
fi

status=0
"$@" || status=$?
exit "$status"
