#!/usr/bin/env bash
# Runs the libFuzzer targets of tests/fuzz for a while each and prints what every target did:
# executions, executions per second, coverage (libFuzzer's "cov", covered edges, and "ft", features),
# the size of the corpus it grew and the crashes it found.
#
#   scripts/fuzz.sh                    every target for 5 minutes, two at a time
#   scripts/fuzz.sh -m 1 query pin     one minute each, only these targets
#
# Builds the targets with clang in build-fuzz (FERRYLANTERN_FUZZ=ON: AddressSanitizer,
# UndefinedBehaviorSanitizer, coverage). Each target starts from its seed corpus in
# tests/fuzz/corpus/<target> (read only) and keeps what it finds in build-fuzz/fuzz-runs/<target>/corpus;
# a crash is kept there too as crash-<hash>, the input to replay with build-fuzz/bin/fuzz_<target>.
# A new input worth keeping in the repository is a small file copied into the seed corpus.
# Env: JOBS (2) targets run at once.
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=5
while getopts m: option; do
    case $option in
    m) minutes=$OPTARG ;;
    *) echo "usage: $0 [-m MINUTES] [TARGET...]" >&2; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
jobs=${JOBS:-2}
all_targets=(request_head query multipart content_disposition batch_preflight upload_naming pin text)
targets=("${@:-${all_targets[@]}}")

scripts/install-deps.sh
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DFERRYLANTERN_FUZZ=ON >/dev/null
cmake --build build-fuzz --target fuzzers -j "$jobs"

runs=build-fuzz/fuzz-runs
run_target() { # target
    local target=$1 folder=$runs/$1
    rm -rf "$folder/log" "$folder"/crash-* "$folder"/leak-* "$folder"/timeout-* "$folder"/oom-*
    mkdir -p "$folder/corpus"
    # New inputs go to the first folder; the seed corpus is only read.
    nice build-fuzz/bin/fuzz_"$target" "$folder/corpus" "tests/fuzz/corpus/$target" \
        -max_total_time=$((minutes * 60)) -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$folder/" > "$folder/log" 2>&1 || true
}

echo "Fuzzing ${targets[*]} for $minutes minute(s) each, $jobs at a time"
for target in "${targets[@]}"; do
    [ -x "build-fuzz/bin/fuzz_$target" ] || { echo "no such fuzz target: $target" >&2; exit 2; }
    while (($(jobs -rp | wc -l) >= jobs)); do wait -n; done
    run_target "$target" &
done
wait

printf '\n%-20s %7s %12s %9s %7s %7s %8s %8s\n' target minutes executions exec/s cov ft corpus crashes
status=0
for target in "${targets[@]}"; do
    log=$runs/$target/log
    executions=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
    per_second=$(awk '/stat::average_exec_per_sec/ {print $2}' "$log")
    last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1)
    cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<< "$last")
    ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<< "$last")
    corpus=$(find "$runs/$target/corpus" -type f | wc -l)
    crashes=$(find "$runs/$target" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' \
        -o -name 'oom-*' \) | wc -l)
    printf '%-20s %7s %12s %9s %7s %7s %8s %8s\n' "$target" "$minutes" "${executions:--}" "${per_second:--}" \
        "${cov:--}" "${ft:--}" "$corpus" "$crashes"
    if ((crashes > 0)); then
        status=1
        find "$runs/$target" -maxdepth 1 -type f -name '*-*' ! -name log | sed 's/^/    found: /'
    fi
done
exit $status
