#!/usr/bin/env bash
# Runs a command with a system D-Bus and an avahi-daemon limited to the loopback interface, starting
# whatever is not running yet and stopping only what it started. DNS-SD tests publish and browse
# through it. Needs root for the system services (uses sudo otherwise).
#
#   scripts/with-avahi.sh ctest -L receiver
set -euo pipefail

as_root=()
[[ "$(id -u)" == 0 ]] || as_root=(sudo)
state=$(mktemp -d /tmp/ferrylantern-avahi.XXXXXX)
started_dbus=no
started_avahi=no

cleanup() {
    if [[ $started_avahi == yes ]]; then "${as_root[@]}" avahi-daemon --kill 2>/dev/null || true; fi
    if [[ $started_dbus == yes && -s $state/dbus.pid ]]; then "${as_root[@]}" kill "$(cat "$state/dbus.pid")" 2>/dev/null || true; fi
    rm -rf "$state"
}
trap cleanup EXIT

system_bus_answers() {
    dbus-send --system --dest=org.freedesktop.DBus --print-reply / org.freedesktop.DBus.GetId >/dev/null 2>&1
}

if ! system_bus_answers; then
    "${as_root[@]}" mkdir -p /run/dbus
    "${as_root[@]}" rm -f /run/dbus/pid
    "${as_root[@]}" dbus-daemon --system --fork --print-pid > "$state/dbus.pid"
    started_dbus=yes
    for _ in $(seq 50); do system_bus_answers && break; sleep 0.1; done
fi

if ! avahi-daemon --check 2>/dev/null; then
    cat > "$state/avahi-daemon.conf" <<'CONF'
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=0
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF
    "${as_root[@]}" avahi-daemon --daemonize -f "$state/avahi-daemon.conf"
    started_avahi=yes
    for _ in $(seq 100); do avahi-daemon --check 2>/dev/null && break; sleep 0.1; done
fi

"$@"
