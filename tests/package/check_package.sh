#!/usr/bin/env bash
# Checks what a desktop user gets from the build: the launcher and the AppStream metainfo validate, and
# the Debian package carries the files and declares the run-time dependencies; its ferrylantern-server
# runs from the unpacked tree.
#
#   tests/package/check_package.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
app_id=org.ferrylantern.FerryLantern
work=$(mktemp -d /tmp/ferrylantern-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

echo "== launcher and metainfo"
desktop-file-validate "$source_dir/data/$app_id.desktop"
appstreamcli validate --no-net --explain "$build_dir/data/$app_id.metainfo.xml"

echo "== package"
(cd "$build_dir" && cpack -B "$work" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
package=$(ls "$work"/ferrylantern_*.deb)
version=$(grep -m1 -oP 'project\(FerryLantern\s+VERSION \K[0-9.]+' "$source_dir/CMakeLists.txt" ||
          sed -n 's/^ *VERSION \([0-9.]*\)$/\1/p' "$source_dir/CMakeLists.txt" | head -n1)
[[ "$(dpkg-deb -f "$package" Package)" == ferrylantern ]] || fail "package name"
[[ "$(dpkg-deb -f "$package" Version)" == "$version" ]] || fail "version $(dpkg-deb -f "$package" Version), project $version"
depends=$(dpkg-deb -f "$package" Depends)
for needed in libqt6core6 libqt6widgets6 libqt6multimedia6 qt6-qpa-plugins libavformat libavcodec libswresample \
    libavahi-client3 libqrencode4 libsndfile1; do
    [[ "$depends" == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done
[[ "$(dpkg-deb -f "$package" Recommends)" == *avahi-daemon* ]] || fail "Recommends lacks avahi-daemon"
files=$(dpkg-deb -c "$package" | awk '{print $6}')
for expected in ./usr/bin/ferrylantern ./usr/bin/ferrylantern-server \
    "./usr/share/applications/$app_id.desktop" "./usr/share/metainfo/$app_id.metainfo.xml" \
    "./usr/share/icons/hicolor/scalable/apps/$app_id.svg" "./usr/share/icons/hicolor/48x48/apps/$app_id.png" \
    "./usr/share/icons/hicolor/256x256/apps/$app_id.png" ./usr/lib/systemd/user/ferrylantern-server.service; do
    grep -qxF "$expected" <<<"$files" || fail "missing $expected"
done
if grep -q gallery <<<"$files"; then fail "the gallery is a development tool, not part of the package"; fi

echo "== unpacked ferrylantern-server"
dpkg-deb -x "$package" "$work/root"
"$work/root/usr/bin/ferrylantern-server" --help | grep -q -- "--port-file" || fail "ferrylantern-server --help"
grep -qx 'ExecStart=ferrylantern-server' "$work/root/usr/lib/systemd/user/ferrylantern-server.service" || fail "unit"
echo "package OK: $(basename "$package"), $(du -k "$package" | cut -f1) KiB"
