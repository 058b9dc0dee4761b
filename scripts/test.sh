#!/usr/bin/env bash
# Builds FerryLantern and passes every test, from a fresh Debian 12 machine or an existing checkout:
# installs what is missing, builds incrementally, runs the test suite, then builds the server and its
# tests again under AddressSanitizer + UndefinedBehaviorSanitizer and under ThreadSanitizer, and runs
# them there too, and finally builds the libFuzzer targets with clang and replays their corpus.
#
#   scripts/test.sh            everything
#   scripts/test.sh -L server  only the tests of one subsystem (server, web, receiver, audio, ui, fuzz, fault)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
ctest_arguments=(--output-on-failure --timeout 300 -j "$jobs" "$@")

configure_and_build() { # folder, cmake options...
    local folder=$1
    shift
    cmake -S . -B "$folder" -G Ninja "$@" >/dev/null
    cmake --build "$folder" -j "$jobs"
}

echo "== Build and test"
configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The locks of the Qt layers, checked by clang like the server's in the clang builds below.
scripts/check-thread-safety.sh build
# DNS-SD tests publish and browse through a real avahi-daemon; the audio playback tests need a
# sound server (PulseAudio with a null sink). The wrappers start what is not running yet.
(cd build && ../scripts/with-avahi.sh ../scripts/with-pulseaudio.sh ctest "${ctest_arguments[@]}")

echo "== Server under AddressSanitizer and UndefinedBehaviorSanitizer"
configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DFERRYLANTERN_SERVER_ONLY=ON \
    -DFERRYLANTERN_SANITIZE=address,undefined
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest "${ctest_arguments[@]}")

echo "== Server under ThreadSanitizer"
configure_and_build build-tsan -DCMAKE_BUILD_TYPE=Debug -DFERRYLANTERN_SERVER_ONLY=ON -DFERRYLANTERN_SANITIZE=thread
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest "${ctest_arguments[@]}")

echo "== Fuzz targets (libFuzzer, clang): build, replay the corpus"
configure_and_build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DFERRYLANTERN_FUZZ=ON
(cd build-fuzz && ctest "${ctest_arguments[@]}")

echo "== All tests passed"
