#!/bin/sh
# Runs a command in a network namespace of its own in which this machine has a LAN address,
# 10.77.0.1 on an interface "wlan0" (a veth whose peer is up), beside loopback. The browser tests open
# the upload page there, as a phone does: from an address that is not loopback, where
# window.isSecureContext is false. The command learns the address from FERRYLANTERN_WEB_ADDRESS.
# Where namespaces are not allowed (not root, a sandbox), the command runs as it is, on 127.0.0.1.
set -eu
address=10.77.0.1
if unshare --net true 2>/dev/null; then
    exec unshare --net sh -c '
        ip link set lo up &&
        ip link add wlan0 type veth peer name wlan0peer &&
        ip addr add '"$address"'/24 dev wlan0 &&
        ip link set wlan0peer up &&
        ip link set wlan0 up &&
        FERRYLANTERN_WEB_ADDRESS='"$address"' exec "$@"' sh "$@"
fi
echo "private-network.sh: no network namespace here, so the page is opened on 127.0.0.1" >&2
exec "$@"
