#!/usr/bin/env bash
# The AOM CTC metrics side by side with the vmaf tool (libvmaf), which computes the same
# values: paired runs (each round runs both, in turn, with the same thread count), the
# median of each row's per-round ratios printed beside its goal. Rows are skipped without
# the vmaf tool; the decodes need ffmpeg (bench/make_decodes.sh), else the rows are
# skipped too.
#
#   ctc_bench.sh FRAMECMP [VMAF]     (BENCH_ROUNDS=3, BENCH_THREADS=2, BENCH_DIR=$PWD)
set -euo pipefail

framecmp=$1
vmaf=${2:-}
rounds=${BENCH_ROUNDS:-3}
threads=${BENCH_THREADS:-2}
here=$(cd "$(dirname "$0")" && pwd)

if ! command -v ffmpeg > /dev/null; then
  echo "ffmpeg is not installed: no decodes to measure, every row skipped"
  exit 0
fi
work=$(mktemp -d "${BENCH_DIR:-$PWD}/framecmp-ctc.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "Making the decodes in $work (25 frames each)..."
"$here/make_decodes.sh" "$work" 25

# Seconds a command takes, its output dropped.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1 || true
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

median() { sort -g | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

declare -A feature=(
  [aom-psnr]="psnr=reduced_hbd_peak=true:enable_apsnr=true:min_sse=0.5"
  [vmaf-ssim]="float_ssim=scale=1"
  [ms-ssim]="float_ms_ssim"
  [psnr-hvs]="psnr_hvs"
  [ciede2000]="ciede"
)
all="aom-psnr,vmaf-ssim,ms-ssim,psnr-hvs,ciede2000"

# One input: NAME WIDTH HEIGHT PIX_FMT LAYOUT DEPTH
bench_input() {
  local name=$1 width=$2 height=$3 pix=$4 layout=$5 depth=$6
  local ref="$work/$name.ref.yuv" dist="$work/$name.dist.yuv"
  cat "$ref" "$dist" > /dev/null  # warm the page cache
  local ours=("$framecmp" --report=summary "--size=${width}x$height" "--pix-fmt=$pix"
              "--threads=$threads")
  local theirs=("$vmaf" -r "$ref" -d "$dist" -w "$width" -h "$height" -p "$layout" -b "$depth"
                -n -q --threads "$threads" -o /dev/null)
  echo "== $name ($width x $height, $pix, 25 frames, $threads threads, medians of $rounds rounds)"
  for metric in aom-psnr vmaf-ssim ms-ssim psnr-hvs ciede2000 all; do
    local names=$metric features=()
    [ "$metric" = all ] && names=$all
    IFS=, read -ra list <<< "$names"
    for m in "${list[@]}"; do features+=(--feature "${feature[$m]}"); done
    local ratios=() alone=()
    for ((round = 0; round < rounds; ++round)); do
      local fc base
      fc=$(seconds "${ours[@]}" "--metric=$names" "$dist" "$ref")
      if [ -n "$vmaf" ]; then
        local vm
        vm=$(seconds "${theirs[@]}" "${features[@]}")
        ratios+=("$(echo "$vm / $fc" | bc -l)")
      fi
      if [ "$metric" = all ]; then
        base=$(seconds "${ours[@]}" "$dist" "$ref")
        alone+=("$(echo "$fc / $base" | bc -l)")
      fi
    done
    if [ -n "$vmaf" ]; then
      printf '  the vmaf tool / framecmp, %-10s %6.2f   (goal >= 5)\n' "$metric" \
        "$(printf '%s\n' "${ratios[@]}" | median)"
    else
      printf '  the vmaf tool / framecmp, %-10s skipped (no vmaf tool given)\n' "$metric"
    fi
    if [ "$metric" = all ]; then
      printf '  framecmp all five / framecmp --report=summary alone %6.2f   (reported)\n' \
        "$(printf '%s\n' "${alone[@]}" | median)"
    fi
  done
}

# VMAF and the whole CTC preset: NAME WIDTH HEIGHT PIX_FMT LAYOUT DEPTH
bench_vmaf() {
  local name=$1 width=$2 height=$3 pix=$4 layout=$5 depth=$6
  local ref="$work/$name.ref.yuv" dist="$work/$name.dist.yuv"
  cat "$ref" "$dist" > /dev/null
  local ours=("$framecmp" --report=summary "--size=${width}x$height" "--pix-fmt=$pix"
              "--threads=$threads")
  local theirs=("$vmaf" -r "$ref" -d "$dist" -w "$width" -h "$height" -p "$layout" -b "$depth"
                -q --threads "$threads" -o /dev/null)
  local vmaf_ratios=() ctc_ratios=() ctc_fps=()
  for ((round = 0; round < rounds; ++round)); do
    local fc fc_ctc
    fc=$(seconds "${ours[@]}" --metric=vmaf "$dist" "$ref")
    fc_ctc=$(seconds "${ours[@]}" --ctc=aom "$dist" "$ref")
    ctc_fps+=("$(echo "25 / $fc_ctc" | bc -l)")
    if [ -n "$vmaf" ]; then
      local vm vm_ctc
      vm=$(seconds "${theirs[@]}")
      vm_ctc=$(seconds "${theirs[@]}" --aom_ctc v7.0)
      vmaf_ratios+=("$(echo "$vm / $fc" | bc -l)")
      ctc_ratios+=("$(echo "$vm_ctc / $fc_ctc" | bc -l)")
    fi
  done
  if [ -n "$vmaf" ]; then
    printf '  the vmaf tool default / framecmp --metric=vmaf %6.2f   (goal >= 2)\n' \
      "$(printf '%s\n' "${vmaf_ratios[@]}" | median)"
    printf '  vmaf --aom_ctc v7.0 / framecmp --ctc=aom      %6.2f   (goal >= 5)\n' \
      "$(printf '%s\n' "${ctc_ratios[@]}" | median)"
  else
    echo '  the vmaf tool rows skipped (no vmaf tool given)'
  fi
  printf '  framecmp --ctc=aom, frames a second            %6.2f   (reported)\n' \
    "$(printf '%s\n' "${ctc_fps[@]}" | median)"
}

bench_input 1080p8 1920 1080 yuv420p 420 8
bench_vmaf 1080p8 1920 1080 yuv420p 420 8
bench_input 720p10 1280 720 yuv420p10le 420 10
bench_vmaf 720p10 1280 720 yuv420p10le 420 10
