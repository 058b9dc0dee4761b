#!/usr/bin/env bash
# Makes the keep-awake video of the upload page and writes it into the page as data: URLs, so the page
# stays one self-contained document. While a batch runs on a phone that has no Screen Wake Lock (every
# page on plain HTTP), the page plays this muted, looping, inline video to keep the screen on.
#
# The video is two seconds of a black 64 × 64 picture at 2 frames per second, once as H.264 in MP4
# (iPhones and most Android browsers) and once as VP8 in WebM (browsers built without H.264): about
# 2 KB together. Single-threaded encoders with bit-exact flags and no metadata make the same bytes on
# every run with the same FFmpeg.
#
#   scripts/make-keep-awake-video.sh   (rewrites the two <source> lines of src/webclient/upload_page.html)
set -euo pipefail
cd "$(dirname "$0")/.."
page=src/webclient/upload_page.html
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

picture=(-f lavfi -i "color=c=black:s=64x64:r=2:d=2" -an -threads 1 -g 4 -fflags +bitexact -flags:v +bitexact
    -map_metadata -1)
ffmpeg -v error "${picture[@]}" -c:v libx264 -profile:v baseline -level 3.0 -pix_fmt yuv420p -tune stillimage \
    -crf 51 -movflags +faststart "$work/keep-awake.mp4"
ffmpeg -v error "${picture[@]}" -c:v libvpx -b:v 10k "$work/keep-awake.webm"

mp4="data:video/mp4;base64,$(base64 -w 0 "$work/keep-awake.mp4")"
webm="data:video/webm;base64,$(base64 -w 0 "$work/keep-awake.webm")"
MP4=$mp4 WEBM=$webm perl -0pi -e '
    s{(<source type="video/mp4" src=")[^"]*(")}{$1$ENV{MP4}$2} or die "no mp4 source in the page\n";
    s{(<source type="video/webm" src=")[^"]*(")}{$1$ENV{WEBM}$2} or die "no webm source in the page\n";
' "$page"
echo "keep-awake video: $(stat -c %s "$work/keep-awake.mp4") bytes MP4, $(stat -c %s "$work/keep-awake.webm") bytes WebM"
