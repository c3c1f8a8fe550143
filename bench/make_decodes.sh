#!/bin/sh
# Real decodes for the AOM CTC benchmark and agreement checks: synthetic sources from
# FFmpeg's test patterns, encoded lossy and decoded back to raw YUV, each beside its source.
# Usage: make_decodes.sh DIR [FRAMES]   (needs ffmpeg with libx264 and libx265)
set -eu
dir=$1
frames=${2:-25}
mkdir -p "$dir"
make_pair() {  # NAME SIZE PIX_FMT ENCODER OPTIONS...
  name=$1 size=$2 pix=$3 encoder=$4
  shift 4
  src="$dir/$name.ref.yuv"
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=25,noise=alls=4:allf=t" \
    -frames:v "$frames" -pix_fmt "$pix" -f rawvideo "$src"
  ffmpeg -v error -y -f rawvideo -pix_fmt "$pix" -s "$size" -i "$src" -c:v "$encoder" "$@" \
    "$dir/$name.mkv"
  ffmpeg -v error -y -i "$dir/$name.mkv" -pix_fmt "$pix" -f rawvideo "$dir/$name.dist.yuv"
}
make_pair 1080p8 1920x1080 yuv420p libx264 -crf 32 -preset veryfast
make_pair 720p10 1280x720 yuv420p10le libx264 -crf 30 -preset veryfast
make_pair 422p10 640x360 yuv422p10le libx264 -crf 28 -preset veryfast
make_pair 444p12 640x360 yuv444p12le libx265 -crf 28 -preset veryfast -x265-params log-level=none
make_pair 444p8 352x288 yuv444p libx264 -crf 30 -preset veryfast
# An odd size: the 4:2:0 decode cut to 1917x1077, its chroma rounded up as raw files hold it.
for side in ref dist; do
  ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s 1920x1080 -i "$dir/1080p8.$side.yuv" \
    -frames:v 5 -vf crop=1917:1077:0:0 -pix_fmt yuv420p -f rawvideo "$dir/odd.$side.yuv"
done
