#!/usr/bin/env bash
# Builds and runs FerryLantern: installs what is missing, builds incrementally, then starts the
# receiver in the foreground. Arguments go to the program (try --help).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
exec build/bin/ferrylantern-server "$@"
