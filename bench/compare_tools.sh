#!/usr/bin/env bash
# Times framecmp side by side with the tools it must keep up with, on 1920x1088 sequences
# of 300 frames that are first warmed into the page cache. Each round runs every command
# once, in turn, so that a noisy neighbour slows all of them alike; medians are printed,
# then the medians of the per-round ratios and their targets, then the peak memory.
#
#   compare_tools.sh FRAMECMP PRINTF_WALK MAKE_SEQUENCE      (BENCH_ROUNDS=11 by default)
set -euo pipefail

framecmp=$1
printf_walk=$2
make_sequence=$3
rounds=${BENCH_ROUNDS:-11}
width=1920
height=1088
frames=300
frame_size=$((width * height * 3 / 2))

work=$(mktemp -d "${TMPDIR:-/tmp}/framecmp-bench.XXXXXX")
out_dir=/dev/shm
[[ -d $out_dir && -w $out_dir ]] || out_dir=$work
out=$(mktemp "$out_dir/framecmp-bench-out.XXXXXX")
trap 'rm -rf "$work" "$out"' EXIT

echo "Writing sequences to $work (2 x $frames frames of $frame_size bytes)..."
"$make_sequence" "$work/a.yuv" $width $height $frames
cp "$work/a.yuv" "$work/b.yuv"
"$make_sequence" "$work/d1.yuv" $width $height 2
"$make_sequence" "$work/d2.yuv" $width $height 2 --invert
# Dirty pages still being written back would slow every timed run: settle them first.
sync
for _ in 1 2; do cat "$work"/*.yuv >/dev/null; done

# Wall-clock seconds of one run of "${@:2}" with its standard output sent to $1 and its
# standard error dropped. The output file is opened without truncation: freeing and then
# allocating again hundreds of MiB of file pages costs the kernel a varying amount that
# belongs to no tool, and drowned the differences being measured.
seconds() {
  local target=$1
  shift
  local start=$EPOCHREALTIME
  "$@" 1<>"$target" 2>/dev/null || [[ $? -le 1 ]]  # cmp answers 1 for "differ"
  local end=$EPOCHREALTIME
  echo "$start $end" | awk '{ printf "%.6f\n", $2 - $1 }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

declare -A times
record() { times[$1]+="$2 "; }

identical=("$work/a.yuv" "$work/b.yuv")
different=("$work/d1.yuv" "$work/d2.yuv")

# The report must be the printf walk's byte for byte; this run also sizes the output file.
"$printf_walk" $width $height "${different[@]}" >"$work/expected.txt"
"$framecmp" $width $height "${different[@]}" >"$out"
cmp -s "$work/expected.txt" "$out" || { echo "framecmp and the printf walk disagree" >&2; exit 1; }
rm "$work/expected.txt"
for ((round = 1; round <= rounds; round++)); do
  printf '\rround %d of %d' "$round" "$rounds"
  record cat "$(seconds /dev/null cat "${identical[@]}")"
  record fc_same "$(seconds /dev/null "$framecmp" $width $height "${identical[@]}")"
  record cmp_s "$(seconds /dev/null cmp -s "${identical[@]}")"
  record fc_diff "$(seconds "$out" "$framecmp" $width $height "${different[@]}")"
  record printf_walk "$(seconds "$out" "$printf_walk" $width $height "${different[@]}")"
  record cmp_l "$(seconds "$out" cmp -l "${different[@]}")"
  record fc_null "$(seconds /dev/null "$framecmp" $width $height "${different[@]}")"
  record printf_null "$(seconds /dev/null "$printf_walk" $width $height "${different[@]}")"
done
echo

declare -A med
for key in "${!times[@]}"; do med[$key]=$(tr ' ' '\n' <<<"${times[$key]}" | sed '/^$/d' | median); done
lines=$((2 * frame_size))

printf '\n%-44s %12s\n' "command (median of $rounds rounds)" "seconds"
printf '%-44s %12.4f\n' "cat test ref >/dev/null" "${med[cat]}" \
  "framecmp, identical pair" "${med[fc_same]}" \
  "cmp -s, identical pair" "${med[cmp_s]}" \
  "framecmp, $lines lines to a file" "${med[fc_diff]}" \
  "printf walk, $lines lines to a file" "${med[printf_walk]}" \
  "cmp -l, $lines lines to a file" "${med[cmp_l]}" \
  "framecmp, $lines lines to /dev/null" "${med[fc_null]}" \
  "printf walk, $lines lines to /dev/null" "${med[printf_null]}"

# Median over the rounds of the ratio of two commands' times in the same round: paired
# runs cancel most of the drift of a shared machine, which ratios of medians do not.
ratio() {
  paste <(tr ' ' '\n' <<<"${times[$1]}") <(tr ' ' '\n' <<<"${times[$2]}") |
    awk 'NF == 2 { print $1 / $2 }' | median | awk '{ printf "%.2f", $1 }'
}
verdict() { awk -v r="$1" -v t="$2" -v dir="$3" 'BEGIN { ok = dir == "le" ? r <= t : r >= t; print ok ? "met" : "MISSED" }'; }
row() { printf '%-52s %8s   target %-8s %s\n' "$1" "$2" "$3" "$(verdict "$2" "${3#* }" "$4")"; }

echo
echo "median over the rounds of the ratio within each round:"
row "(a) framecmp time / cat time" "$(ratio fc_same cat)" "<= 1.2" le
row "(b) cmp -s time / framecmp time" "$(ratio cmp_s fc_same)" ">= 2.5" ge
row "(c) printf walk time / framecmp time" "$(ratio printf_walk fc_diff)" ">= 15" ge
row "(c) cmp -l time / framecmp time" "$(ratio cmp_l fc_diff)" ">= 4" ge
printf '%-52s %8s   (no target: the formatting alone, without the kernel copy of the output)\n' \
  "    the same, output to /dev/null" "$(ratio printf_null fc_null)"

peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }
limit_kib=$(((2 * frame_size + 4 * 1024 * 1024) / 1024))
echo
echo "peak memory of framecmp (limit 2 x frame size + 4 MiB = $limit_kib KiB):"
"$make_sequence" "$work/one.yuv" $width $height 1
for pair in "identical, $frames frames:${identical[*]}" "every sample differs:${different[*]}" \
  "identical, 1 frame:$work/one.yuv $work/one.yuv"; do
  read -r -a files <<<"${pair#*:}"
  kib=$(peak_kib "$framecmp" $width $height "${files[@]}")
  printf '  %-28s %8s KiB  %s\n' "${pair%%:*}" "$kib" "$( ((kib <= limit_kib)) && echo met || echo MISSED)"
done
