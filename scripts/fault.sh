#!/usr/bin/env bash
# Runs the load and fault tests of tests/fault against build/bin/ferrylantern-server and prints what
# each one measured as one table. CTest runs them at quick sizes; this script runs them at full size
# (64 uploads of 64 MiB at once, 8 uploads of 64 MiB killed mid-body, 10 s of descriptor exhaustion).
#
#   scripts/fault.sh                    every fault test at full size
#   scripts/fault.sh quick              at the sizes CTest uses
#   scripts/fault.sh full 'Load.*'      only the tests that match a GoogleTest filter
#
# The full-disk test mounts a tmpfs and skips itself where that is not allowed (run as root).
set -euo pipefail
cd "$(dirname "$0")/.."

scale=${1:-full}
filter=${2:-*}
case $scale in
full | quick) ;;
*) echo "usage: $0 [full|quick] [GTEST_FILTER]" >&2; exit 2 ;;
esac

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target fault_tests ferrylantern-server -j "$(nproc)"

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
echo "Running the fault tests ($scale size); this takes a minute or two"
FERRYLANTERN_FAULT_SCALE=$scale build/bin/fault_tests --gtest_filter="$filter" > "$log" 2>&1 || status=$?

echo
awk -F' [|] ' '
    /^\[ FIGURE   \] / {
        sub(/^\[ FIGURE   \] /, "", $1)
        if ($1 != test) { printf "\n%s\n", $1; test = $1 }
        printf "    %-62s %s\n", $2, $3
    }' "$log"
echo
grep -E '^\[  (PASSED|FAILED|SKIPPED) |^\[==========\] .* ran' "$log" || true
if ((status != 0)); then
    echo "--- failures:"
    grep -E -B2 -A8 'Failure$|Skipped$' "$log" | head -80
fi
exit $status
