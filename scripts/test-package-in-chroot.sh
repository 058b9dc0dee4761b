#!/usr/bin/env bash
# Installs the Debian package into a fresh, minimal Debian 12 root made with debootstrap (no
# containers needed) and runs the installed ferrylantern-server there: proof that the package declares
# everything it needs. Needs root and Debian's package archive; takes a few minutes.
#
#   scripts/test-package-in-chroot.sh [PACKAGE.deb]     (default: builds one with cpack)
set -euo pipefail
cd "$(dirname "$0")/.."
[[ "$(id -u)" == 0 ]] || { echo "run as root (debootstrap and chroot)" >&2; exit 2; }

scripts/install-deps.sh
command -v debootstrap >/dev/null || apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends debootstrap

package=${1:-}
if [[ -z "$package" ]]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j "$(nproc)"
    (cd build && cpack >/dev/null)
    package=$(ls -t build/ferrylantern_*.deb | head -n1)
fi
package=$(realpath "$package")

root=$(mktemp -d /tmp/ferrylantern-chroot.XXXXXX)
cleanup() {
    for mount in proc sys dev; do umount -l "$root/$mount" 2>/dev/null || true; done
    rm -rf "$root"
}
trap cleanup EXIT

mirror=$(awk '$1 == "deb" {print $2; exit}' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true)
if [[ -z "$mirror" ]]; then
    mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
fi
mirror=${mirror:-http://deb.debian.org/debian}
echo "== debootstrap bookworm from $mirror"
debootstrap --variant=minbase bookworm "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
    { tail -20 "$root.debootstrap.log"; exit 1; }
rm -f "$root.debootstrap.log"
for mount in proc sys dev; do mount --bind "/$mount" "$root/$mount"; done

cp "$package" "$root/tmp/"
echo "== apt-get install ./$(basename "$package")"
chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get -q update >/dev/null
chroot "$root" env DEBIAN_FRONTEND=noninteractive apt-get -q install -y --no-install-recommends \
    "/tmp/$(basename "$package")" >"$root/tmp/install.log" 2>&1 || { tail -30 "$root/tmp/install.log"; exit 1; }

echo "== the installed programs"
chroot "$root" /usr/bin/ferrylantern-server --help | head -n 3
if chroot "$root" ldd /usr/bin/ferrylantern /usr/bin/ferrylantern-server | grep "not found"; then
    echo "libraries missing from the declared dependencies" >&2
    exit 1
fi
chroot "$root" sh -c 'ldd /usr/bin/ferrylantern /usr/bin/ferrylantern-server | grep -c "=>"' | sed 's/^/libraries resolved: /'
test -e "$root/usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqxcb.so" || { echo "no Qt window-system plugin" >&2; exit 1; }
echo "package installs and runs in a fresh Debian 12 root"
