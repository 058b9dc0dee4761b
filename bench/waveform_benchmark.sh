#!/usr/bin/env bash
# Waveform extraction against the decoding floor, measured alternately in the same run.
#
#   bench/waveform_benchmark.sh
#
# For a 10-minute stereo 44.1 kHz file as MP3 (CBR 320k), FLAC and WAV it times, RUNS times each and
# alternately, the floor `ffmpeg -v quiet -i FILE -f s16le -y /dev/null` (a full decode to 16-bit PCM,
# nothing else) and `waveform_bench extract FILE` (our whole process: start-up, decode, 512 buckets),
# and prints the medians and their ratio (target: at most 1.0). Then, through the loader, the cached
# second request (target: under a millisecond) and the duration lookup.
#
# Environment: DUR (600 seconds), RUNS (5), AUDIO (/tmp/ferrylantern-bench/audio: files are made once
# and reused), BUILD (build).
set -euo pipefail
cd "$(dirname "$0")/.."

DUR=${DUR:-600}
RUNS=${RUNS:-5}
AUDIO=${AUDIO:-/tmp/ferrylantern-bench/audio}
BUILD=${BUILD:-build}
bench=$BUILD/bin/waveform_bench

if [[ ! -f "$BUILD/build.ninja" ]]; then
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" --target waveform_bench >/dev/null

# Pink noise and a tone per channel, so the lossless files compress like real music.
make_audio() { # output, codec arguments...
    local out=$1
    shift
    [[ -s "$out" ]] && return 0
    echo "creating $out" >&2
    mkdir -p "$(dirname "$out")"
    ffmpeg -v error -nostdin \
        -f lavfi -i "anoisesrc=c=pink:r=44100:a=0.08:s=1:d=$DUR" -f lavfi -i "anoisesrc=c=pink:r=44100:a=0.08:s=2:d=$DUR" \
        -f lavfi -i "sine=f=220:r=44100:d=$DUR" -f lavfi -i "sine=f=331:r=44100:d=$DUR" \
        -filter_complex "[0][2]amix=inputs=2:normalize=0[l];[1][3]amix=inputs=2:normalize=0[r];[l][r]join=inputs=2:channel_layout=stereo[a]" \
        -map "[a]" "$@" -y "$out.part.${out##*.}"
    mv "$out.part.${out##*.}" "$out"
}

mp3=$AUDIO/t${DUR}.mp3
flac=$AUDIO/t${DUR}.flac
wav=$AUDIO/t${DUR}.wav
make_audio "$mp3" -c:a libmp3lame -b:a 320k
make_audio "$flac" -c:a flac -sample_fmt s16
make_audio "$wav" -c:a pcm_s16le

seconds_of() { # command...: wall-clock seconds of one run
    local start=$EPOCHREALTIME
    "$@" >/dev/null
    local end=$EPOCHREALTIME
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "Waveform extraction against the decoding floor: ${DUR} s stereo 44.1 kHz, $RUNS runs each, alternating"
printf '%-10s %12s %12s %12s %8s\n' file floor_s ours_s in_process_s ratio
worst=0
for file in "$mp3" "$flac" "$wav"; do
    floor_times=()
    our_times=()
    inner_times=()
    # One warm-up of each puts the file and both programs in the page cache.
    ffmpeg -v quiet -i "$file" -f s16le -y /dev/null
    "$bench" extract "$file" >/dev/null
    for _ in $(seq "$RUNS"); do
        floor_times+=("$(seconds_of ffmpeg -v quiet -i "$file" -f s16le -y /dev/null)")
        start=$EPOCHREALTIME
        inner_times+=("$("$bench" extract "$file")")
        end=$EPOCHREALTIME
        our_times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }')")
    done
    floor=$(printf '%s\n' "${floor_times[@]}" | median)
    ours=$(printf '%s\n' "${our_times[@]}" | median)
    inner=$(printf '%s\n' "${inner_times[@]}" | median)
    ratio=$(awk -v a="$ours" -v b="$floor" 'BEGIN { printf "%.3f", a / b }')
    worst=$(awk -v a="$ratio" -v b="$worst" 'BEGIN { print (a > b) ? a : b }')
    printf '%-10s %12.3f %12.3f %12.3f %8s\n' "${file##*.}" "$floor" "$ours" "$inner" "$ratio"
done
echo "worst ratio: $worst (target: at most 1.0)"

echo
echo "Loader, ${mp3##*/} (target for the cached request: under 1 ms)"
"$bench" loader "$mp3"
