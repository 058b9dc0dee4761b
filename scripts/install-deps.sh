#!/usr/bin/env bash
# Installs the Debian packages FerryLantern builds, tests and runs with. Idempotent: only missing
# packages are fetched, and apt is not touched at all when everything is present.
#
#   scripts/install-deps.sh            build, test and run-time packages
#   scripts/install-deps.sh bench      also the tools the benchmarks compare against
#   scripts/install-deps.sh screenshots   also a terminal to photograph ferrylantern-server in, and a
#                                         panel with a tray for the status item
set -euo pipefail

build_packages=(
    cmake g++ pkg-config ninja-build
    qt6-base-dev qt6-multimedia-dev qt6-base-dev-tools
    libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
    libavahi-client-dev libqrencode-dev nlohmann-json3-dev libsndfile1-dev uuid-dev libutf8proc-dev
    libgtest-dev libgmock-dev
    librsvg2-bin
)
sanitizer_packages=(clang libclang-rt-14-dev)
# dunst is the notification daemon the notification tests (and the screenshots) run on a private bus.
service_packages=(dbus avahi-daemon avahi-utils pulseaudio pulseaudio-utils xvfb chromium dunst)
# The Qt 6 multimedia backend plugins and the offscreen/xcb platform plugins live in their own packages.
runtime_packages=(qt6-qpa-plugins libqt6multimedia6 qt6-translations-l10n)
tool_packages=(
    ffmpeg curl socat zbar-tools imagemagick fonts-wqy-microhei desktop-file-utils appstream
    nodejs npm procps iproute2 psmisc x11-utils xdotool
)
bench_packages=(nginx-light wrk hyperfine jq time python3)
screenshot_packages=(xterm jq trayer)

wanted=("${build_packages[@]}" "${sanitizer_packages[@]}" "${service_packages[@]}" "${runtime_packages[@]}"
        "${tool_packages[@]}")
[[ "${1:-}" == bench ]] && wanted+=("${bench_packages[@]}")
[[ "${1:-}" == screenshots ]] && wanted+=("${screenshot_packages[@]}")

is_installed() {
    [[ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" == "install ok installed" ]]
}

missing=()
for package in "${wanted[@]}"; do
    # Node.js and npm may come from outside Debian on a developer machine; any working copy will do.
    if [[ "$package" == nodejs || "$package" == npm ]] && command -v "${package/nodejs/node}" >/dev/null; then
        continue
    fi
    is_installed "$package" || missing+=("$package")
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

sudo_prefix=()
if [[ "$(id -u)" != 0 ]]; then
    sudo_prefix=(sudo)
fi

echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
apt_options=(-o DPkg::Lock::Timeout=600 -y --no-install-recommends)
"${sudo_prefix[@]}" apt-get -o DPkg::Lock::Timeout=600 update -q
"${sudo_prefix[@]}" apt-get "${apt_options[@]}" install "${missing[@]}"
