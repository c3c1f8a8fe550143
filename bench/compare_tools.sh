#!/usr/bin/env bash
# Times framecmp side by side with the limits it must reach and the tools users would pick
# instead, on sequences written to the ordinary disk (not tmpfs) and warmed into the page
# cache. Each round runs every command once, in turn, so that a noisy neighbour slows all
# of them alike; the medians of the per-round ratios are printed with their goals, then the
# peak memory in every format.
#
#   compare_tools.sh FRAMECMP PRINTF_WALK MAKE_SEQUENCE      (BENCH_ROUNDS=11 by default)
set -euo pipefail

framecmp=$1
printf_walk=$2
make_sequence=$3
rounds=${BENCH_ROUNDS:-11}
frames=${BENCH_FRAMES:-150}

work=$(mktemp -d "${BENCH_DIR:-$PWD}/framecmp-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "Writing sequences to $work ($frames frames each)..."
"$make_sequence" "$work/a1088.yuv" 1920 1088 "$frames"
cp "$work/a1088.yuv" "$work/b1088.yuv"
"$make_sequence" "$work/a1080.yuv" 1920 1080 "$frames"
cp "$work/a1080.yuv" "$work/b1080.yuv"
"$make_sequence" "$work/a10.yuv" 1920 1080 "$frames" --depth 10
cp "$work/a10.yuv" "$work/b10.yuv"
"$make_sequence" "$work/a1080.y4m" 1920 1080 "$frames" --y4m
cp "$work/a1080.y4m" "$work/b1080.y4m"
"$make_sequence" "$work/x1080.yuv" 1920 1080 "$frames" --invert
"$make_sequence" "$work/a1080.nv12" 1920 1080 "$frames" --nv12
"$make_sequence" "$work/n1080.yuv" 1920 1080 "$frames" --nudge
"$make_sequence" "$work/x10.yuv" 1920 1080 "$frames" --depth 10 --invert
"$make_sequence" "$work/d1.yuv" 1920 1088 2
"$make_sequence" "$work/d2.yuv" 1920 1088 2 --invert
"$make_sequence" "$work/u1.yuv" 3840 2160 30 --depth 10
"$make_sequence" "$work/u2.yuv" 3840 2160 30 --depth 10 --invert
"$make_sequence" "$work/d1_10.yuv" 1920 1080 2 --depth 10
"$make_sequence" "$work/d2_10.yuv" 1920 1080 2 --depth 10 --invert

# Each report must be the printf walk's byte for byte; it is also the file that `cat`
# copies to measure the cost of writing that many bytes to a new file.
check_report() {
  local name=$1 format=$2 width=$3 height=$4 test=$5 ref=$6 args=("${@:7}")
  "$printf_walk" "$format" "$width" "$height" "$test" "$ref" >"$work/$name.expected"
  "$framecmp" "${args[@]}" "$test" "$ref" >"$work/$name.report" 2>/dev/null
  cmp -s "$work/$name.expected" "$work/$name.report" ||
    { echo "framecmp and the printf walk disagree on $name" >&2; exit 1; }
  rm "$work/$name.expected"
}
check_report classic yuv420p 1920 1088 "$work/d1.yuv" "$work/d2.yuv" 1920 1088
check_report deep yuv420p10le 1920 1080 "$work/d1_10.yuv" "$work/d2_10.yuv" \
  --pix-fmt=yuv420p10le --size=1920x1080
# Dirty pages still being written back would slow every timed run: settle them first.
sync
for _ in 1 2; do cat "$work"/*.yuv "$work"/*.y4m "$work"/*.report >/dev/null; done

# Wall-clock seconds of one run of "${@:2}" with its standard output sent to $1 and its
# standard error dropped. An output file other than /dev/null is removed first (outside
# the timing), so that every run writes a new file, as `> report.txt` does.
seconds() {
  local target=$1
  shift
  [[ $target == /dev/null ]] || rm -f "$target"
  local start=$EPOCHREALTIME
  "$@" >"$target" 2>/dev/null || [[ $? -le 1 ]]  # cmp answers 1 for "differ"
  local end=$EPOCHREALTIME
  echo "$start $end" | awk '{ printf "%.6f\n", $2 - $1 }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

declare -A times
record() { times[$1]+="$2 "; }

out="$work/out.txt"
deep=(--pix-fmt=yuv420p10le --size=1920x1080)
summary=(--report=summary --size=1920x1080)
# ffmpeg is the PSNR tool users would pick instead; the row is skipped where it is absent.
ffmpeg_psnr() {
  ffmpeg -hide_banner -nostats -f rawvideo -pix_fmt "$1" -s 1920x1080 -i "$2" \
    -f rawvideo -pix_fmt "$1" -s 1920x1080 -i "$3" -lavfi psnr -f null - 2>&1
}
ffmpeg_ssim() {
  ffmpeg -hide_banner -nostats -f rawvideo -pix_fmt "$1" -s 1920x1080 -i "$2" \
    -f rawvideo -pix_fmt "$1" -s 1920x1080 -i "$3" -lavfi ssim -f null - 2>&1
}
have_ffmpeg=$(command -v ffmpeg >/dev/null && echo yes || echo no)
# The read path: the test sequence through a pipe, as from a decoder.
piped() { cat "$1" | "$framecmp" 1920 1088 - "$2"; }
pipe_alone() { cat "$1" | cat; }  # what the pipe itself costs
for ((round = 1; round <= rounds; round++)); do
  printf '\rround %d of %d' "$round" "$rounds"
  record cat "$(seconds /dev/null cat "$work/a1088.yuv" "$work/b1088.yuv")"
  record fc_same "$(seconds /dev/null "$framecmp" 1920 1088 "$work/a1088.yuv" "$work/b1088.yuv")"
  record fc_modern "$(seconds /dev/null "$framecmp" --size=1920x1088 "$work/a1088.yuv" "$work/b1088.yuv")"
  record cmp_s "$(seconds /dev/null cmp -s "$work/a1088.yuv" "$work/b1088.yuv")"
  record cat_report "$(seconds "$out" cat "$work/classic.report")"
  record fc_diff "$(seconds "$out" "$framecmp" 1920 1088 "$work/d1.yuv" "$work/d2.yuv")"
  record fc_null "$(seconds /dev/null "$framecmp" 1920 1088 "$work/d1.yuv" "$work/d2.yuv")"
  record printf_null "$(seconds /dev/null "$printf_walk" yuv420p 1920 1088 "$work/d1.yuv" "$work/d2.yuv")"
  record cat_1080 "$(seconds /dev/null cat "$work/a1080.yuv" "$work/b1080.yuv")"
  record fc_nv12 "$(seconds /dev/null "$framecmp" --pix-fmt=nv12 1920 1080 "$work/a1080.yuv" "$work/b1080.yuv")"
  record cat_10 "$(seconds /dev/null cat "$work/a10.yuv" "$work/b10.yuv")"
  record fc_10 "$(seconds /dev/null "$framecmp" "${deep[@]}" "$work/a10.yuv" "$work/b10.yuv")"
  record cat_report10 "$(seconds "$out" cat "$work/deep.report")"
  record fc_diff10 "$(seconds "$out" "$framecmp" "${deep[@]}" "$work/d1_10.yuv" "$work/d2_10.yuv")"
  record fc_null10 "$(seconds /dev/null "$framecmp" "${deep[@]}" "$work/d1_10.yuv" "$work/d2_10.yuv")"
  record printf_null10 "$(seconds /dev/null "$printf_walk" yuv420p10le 1920 1080 "$work/d1_10.yuv" "$work/d2_10.yuv")"
  record cat_x "$(seconds /dev/null cat "$work/a1080.yuv" "$work/x1080.yuv")"
  record sum_x "$(seconds /dev/null "$framecmp" "${summary[@]}" "$work/a1080.yuv" "$work/x1080.yuv")"
  record sum_same "$(seconds /dev/null "$framecmp" "${summary[@]}" "$work/a1080.yuv" "$work/b1080.yuv")"
  record cat_mixed "$(seconds /dev/null cat "$work/a1080.nv12" "$work/b1080.yuv")"
  record fc_mixed "$(seconds /dev/null "$framecmp" --test-pix-fmt=nv12 --size=1920x1080 "$work/a1080.nv12" "$work/b1080.yuv")"
  record blocks_x "$(seconds /dev/null "$framecmp" --report=blocks --size=1920x1080 "$work/a1080.yuv" "$work/x1080.yuv")"
  record cat_x10 "$(seconds /dev/null cat "$work/a10.yuv" "$work/x10.yuv")"
  record sum_x10 "$(seconds /dev/null "$framecmp" "${summary[@]}" --pix-fmt=yuv420p10le "$work/a10.yuv" "$work/x10.yuv")"
  record cat_n "$(seconds /dev/null cat "$work/a1080.yuv" "$work/n1080.yuv")"
  record tol_n "$(seconds /dev/null "$framecmp" --tolerance=1 --size=1920x1080 "$work/a1080.yuv" "$work/n1080.yuv")"
  record ssim_n "$(seconds /dev/null "$framecmp" "${summary[@]}" --ssim "$work/a1080.yuv" "$work/n1080.yuv")"
  record ssim_x10 "$(seconds /dev/null "$framecmp" "${summary[@]}" --ssim --pix-fmt=yuv420p10le "$work/a10.yuv" "$work/x10.yuv")"
  record pool_n "$(seconds /dev/null "$framecmp" "${summary[@]}" --psnr-pooling "$work/a1080.yuv" "$work/n1080.yuv")"
  record plain_n "$(seconds /dev/null "$framecmp" "${summary[@]}" "$work/a1080.yuv" "$work/n1080.yuv")"
  record cat_y4m "$(seconds /dev/null cat "$work/a1080.y4m" "$work/b1080.y4m")"
  record fc_y4m "$(seconds /dev/null "$framecmp" -- "$work/a1080.y4m" "$work/b1080.y4m")"
  if [[ $have_ffmpeg == yes ]]; then
    record ffmpeg_x "$(seconds /dev/null ffmpeg_psnr yuv420p "$work/a1080.yuv" "$work/x1080.yuv")"
    record ffmpeg_x10 "$(seconds /dev/null ffmpeg_psnr yuv420p10le "$work/a10.yuv" "$work/x10.yuv")"
    record ffmpeg_ssim_n "$(seconds /dev/null ffmpeg_ssim yuv420p "$work/a1080.yuv" "$work/n1080.yuv")"
    record ffmpeg_ssim_x10 "$(seconds /dev/null ffmpeg_ssim yuv420p10le "$work/a10.yuv" "$work/x10.yuv")"
  fi
  record fc_pipe "$(seconds /dev/null piped "$work/a1088.yuv" "$work/b1088.yuv")"
  record cat_pipe "$(seconds /dev/null pipe_alone "$work/a1088.yuv")"
  record uhd_t1 "$(seconds /dev/null "$framecmp" --threads=1 --report=summary --pix-fmt=yuv420p10le \
    --size=3840x2160 "$work/u1.yuv" "$work/u2.yuv")"
  record uhd_t2 "$(seconds /dev/null "$framecmp" --threads=2 --report=summary --pix-fmt=yuv420p10le \
    --size=3840x2160 "$work/u1.yuv" "$work/u2.yuv")"
done
echo

declare -A med
for key in "${!times[@]}"; do med[$key]=$(tr ' ' '\n' <<<"${times[$key]}" | sed '/^$/d' | median); done
lines=$(wc -l <"$work/classic.report")
lines10=$(wc -l <"$work/deep.report")

printf '\n%-60s %10s\n' "command (median of $rounds rounds)" "seconds"
printf '%-60s %10.4f\n' \
  "cat of an identical 1920x1088 pair >/dev/null" "${med[cat]}" \
  "framecmp, identical 1920x1088 pair" "${med[fc_same]}" \
  "framecmp --size=1920x1088 (modern form), identical pair" "${med[fc_modern]}" \
  "cmp -s, identical 1920x1088 pair" "${med[cmp_s]}" \
  "cat of the $lines-line report to a new file" "${med[cat_report]}" \
  "framecmp, $lines lines to a new file" "${med[fc_diff]}" \
  "framecmp, $lines lines to /dev/null" "${med[fc_null]}" \
  "printf walk, $lines lines to /dev/null" "${med[printf_null]}" \
  "cat of an identical 1920x1080 pair >/dev/null" "${med[cat_1080]}" \
  "framecmp --pix-fmt=nv12, identical 1920x1080 pair" "${med[fc_nv12]}" \
  "cat of an identical 1920x1080 10-bit pair >/dev/null" "${med[cat_10]}" \
  "framecmp --pix-fmt=yuv420p10le, identical pair" "${med[fc_10]}" \
  "cat of the $lines10-line 10-bit report to a new file" "${med[cat_report10]}" \
  "framecmp 10-bit, $lines10 lines to a new file" "${med[fc_diff10]}" \
  "framecmp 10-bit, $lines10 lines to /dev/null" "${med[fc_null10]}" \
  "printf walk 10-bit, $lines10 lines to /dev/null" "${med[printf_null10]}" \
  "cat of a 1920x1080 pair that differs everywhere" "${med[cat_x]}" \
  "framecmp --report=summary, every sample differs" "${med[sum_x]}" \
  "framecmp --report=summary, identical pair" "${med[sum_same]}" \
  "framecmp --report=blocks, every sample differs (8160 lines a frame)" "${med[blocks_x]}" \
  "cat of an identical nv12 and yuv420p pair" "${med[cat_mixed]}" \
  "framecmp --test-pix-fmt=nv12, identical nv12 and yuv420p pair" "${med[fc_mixed]}" \
  "cat of a 10-bit pair that differs everywhere" "${med[cat_x10]}" \
  "framecmp --report=summary, 10-bit, every sample differs" "${med[sum_x10]}" \
  "cat of a pair off by one everywhere" "${med[cat_n]}" \
  "framecmp --tolerance=1, off by one everywhere" "${med[tol_n]}" \
  "cat of an identical 1920x1080 Y4M pair" "${med[cat_y4m]}" \
  "framecmp, identical 1920x1080 Y4M pair" "${med[fc_y4m]}" \
  "framecmp --report=summary --ssim, off by one" "${med[ssim_n]}" \
  "framecmp --report=summary --ssim, 10-bit, every sample differs" "${med[ssim_x10]}" \
  "framecmp --report=summary --psnr-pooling, off by one" "${med[pool_n]}" \
  "framecmp --report=summary, off by one" "${med[plain_n]}"
[[ $have_ffmpeg == no ]] || printf '%-60s %10.4f\n' "ffmpeg -lavfi psnr, every sample differs" "${med[ffmpeg_x]}"

# Median over the rounds of the ratio of two commands' times in the same round: paired
# runs cancel most of the drift of a shared machine, which ratios of medians do not.
ratio() {
  paste <(tr ' ' '\n' <<<"${times[$1]}") <(tr ' ' '\n' <<<"${times[$2]}") |
    awk 'NF == 2 { print $1 / $2 }' | median | awk '{ printf "%.2f", $1 }'
}
verdict() { awk -v r="$1" -v t="$2" -v dir="$3" 'BEGIN { ok = dir == "le" ? r <= t : r >= t; print ok ? "met" : "MISSED" }'; }
row() { printf '%-62s %7s   goal %-7s %s\n' "$1" "$2" "$3" "$(verdict "$2" "${3#* }" "$4")"; }

echo
echo "median over the rounds of the ratio within each round:"
row "classic identical: framecmp / cat" "$(ratio fc_same cat)" "<= 0.7" le
row "modern identical: framecmp --size=1920x1088 / cat" "$(ratio fc_modern cat)" "<= 0.7" le
row "classic identical: cmp -s / framecmp" "$(ratio cmp_s fc_same)" ">= 2" ge
row "classic every sample differs, new file: framecmp / cat copy" "$(ratio fc_diff cat_report)" "<= 1.15" le
row "classic every sample differs, /dev/null: printf / framecmp" "$(ratio printf_null fc_null)" ">= 25" ge
row "nv12 identical: framecmp / cat" "$(ratio fc_nv12 cat_1080)" "<= 1.15" le
row "yuv420p10le identical: framecmp / cat" "$(ratio fc_10 cat_10)" "<= 0.7" le
row "classic identical through a pipe: framecmp / cat" "$(ratio fc_pipe cat)" "<= 1.15" le
row "  the same, against the pipe alone (cat f | cat)" "$(ratio fc_pipe cat_pipe)" "<= 1.15" le
row "10-bit every sample differs, new file: framecmp / cat copy" "$(ratio fc_diff10 cat_report10)" "<= 1.15" le
row "10-bit every sample differs, /dev/null: printf / framecmp" "$(ratio printf_null10 fc_null10)" ">= 25" ge
row "--report=summary, every sample differs: framecmp / cat" "$(ratio sum_x cat_x)" "<= 0.7" le
row "--report=summary, identical: framecmp / cat" "$(ratio sum_same cat_1080)" "<= 1.15" le
row "--report=summary, 10-bit, every sample differs: / cat" "$(ratio sum_x10 cat_x10)" "<= 0.7" le
row "--tolerance=1, off by one everywhere: framecmp / cat" "$(ratio tol_n cat_n)" "<= 0.7" le
row "3840x2160 10-bit summary: --threads=1 / --threads=2" "$(ratio uhd_t1 uhd_t2)" ">= 1.6" ge
row "Y4M 1920x1080, identical: framecmp / cat" "$(ratio fc_y4m cat_y4m)" "<= 1.25" le
row "--report=summary --ssim, off by one: framecmp / cat" "$(ratio ssim_n cat_n)" "<= 1.5" le
row "--psnr-pooling / without, --report=summary, off by one" "$(ratio pool_n plain_n)" "<= 1.05" le
row "--report=blocks / --report=summary, every sample differs" "$(ratio blocks_x sum_x)" "<= 1.3" le
row "nv12 against yuv420p, identical: framecmp / cat" "$(ratio fc_mixed cat_mixed)" "<= 1.3" le
if [[ $have_ffmpeg == yes ]]; then
  row "ffmpeg psnr / framecmp --report=summary" "$(ratio ffmpeg_x sum_x)" ">= 5" ge
  row "ffmpeg psnr / framecmp --report=summary, 10-bit" "$(ratio ffmpeg_x10 sum_x10)" ">= 6" ge
  # The PSNR values must agree to 0.01 dB, plane by plane.
  ours=$("$framecmp" "${summary[@]}" "$work/a1080.yuv" "$work/x1080.yuv" | awk '/^total/ { print $4, $7, $10 }')
  theirs=$(ffmpeg_psnr yuv420p "$work/a1080.yuv" "$work/x1080.yuv" |
    sed -n 's/.*PSNR y:\([0-9.inf]*\) u:\([0-9.inf]*\) v:\([0-9.inf]*\).*/\1 \2 \3/p')
  echo "PSNR y u v: framecmp $ours, ffmpeg $theirs: $(awk -v a="$ours" -v b="$theirs" 'BEGIN {
    split(a, x); split(b, y); ok = 1
    for (i = 1; i <= 3; i++) if (x[i] - y[i] > 0.01 || y[i] - x[i] > 0.01) ok = 0
    print ok ? "agree to 0.01 dB" : "DISAGREE" }')"
  row "ffmpeg ssim / framecmp --report=summary --ssim" "$(ratio ffmpeg_ssim_n ssim_n)" ">= 5" ge
  row "ffmpeg ssim / framecmp --report=summary --ssim, 10-bit" "$(ratio ffmpeg_ssim_x10 ssim_x10)" ">= 8" ge
  # SSIM of every frame and plane against ffmpeg's stats_file (6 decimals printed): within
  # 1e-6 beyond the printing's rounding.
  for case in "yuv420p a1080.yuv n1080.yuv" "yuv420p10le a10.yuv x10.yuv"; do
    read -r format test ref <<<"$case"
    ffmpeg -hide_banner -loglevel error -f rawvideo -pix_fmt "$format" -s 1920x1080 -i "$work/$test" \
      -f rawvideo -pix_fmt "$format" -s 1920x1080 -i "$work/$ref" \
      -lavfi "ssim=stats_file=$work/ssim.txt" -f null -
    "$framecmp" --report=frames --ssim --csv --pix-fmt="$format" --size=1920x1080 \
      "$work/$test" "$work/$ref" >"$work/ssim.csv"
    awk -F'[ :,]' 'NR == FNR { y[NR] = $4; u[NR] = $6; v[NR] = $8; n = NR; next }
      FNR == 1 { for (i = 1; i <= NF; i++) col[$i] = i; next }
      $1 != "total" { f = $1 + 1; checked++
        d = $(col["y_ssim"]) - y[f]; if (d < 0) d = -d; if (d > worst) worst = d
        d = $(col["u_ssim"]) - u[f]; if (d < 0) d = -d; if (d > worst) worst = d
        d = $(col["v_ssim"]) - v[f]; if (d < 0) d = -d; if (d > worst) worst = d }
      END { printf "SSIM against ffmpeg stats_file, %s: %d frames, largest difference %.2g: %s\n",
              fmt, checked, worst, (checked == n && worst <= 1.5e-6) ? "within 1e-6" : "MISSED" }' \
      fmt="$format" "$work/ssim.txt" "$work/ssim.csv"
  done
else
  echo "ffmpeg psnr and ssim / framecmp: skipped (ffmpeg is not installed)"
fi

# A cold cache once: every file read from the disk. Needs root (drop_caches); skipped
# otherwise. The disk's read speed bounds both commands then, not the comparison.
echo
if [[ -w /proc/sys/vm/drop_caches ]]; then
  cold() {
    sync
    echo 3 >/proc/sys/vm/drop_caches
    seconds /dev/null "$@"
  }
  cold_cat=$(cold cat "$work/a1080.yuv" "$work/x1080.yuv")
  cold_fc=$(cold "$framecmp" "${summary[@]}" "$work/a1080.yuv" "$work/x1080.yuv")
  printf 'cold cache, --report=summary every sample differs: cat %.3f s, framecmp %.3f s, ratio %.2f\n' \
    "$cold_cat" "$cold_fc" "$(awk -v a="$cold_fc" -v b="$cold_cat" 'BEGIN { print a / b }')"
  echo "  (one run each; the disk's read speed limits both)"
else
  echo "cold cache: skipped (/proc/sys/vm/drop_caches is not writable)"
fi

# Peak private (anonymous) and file-backed resident memory of a run, in KiB: RssAnon and
# RssFile of /proc/PID/status, sampled every 2 ms (a peak between samples can be missed).
peak_kib() {
  "$@" >/dev/null 2>&1 &
  local pid=$! anon=0 file=0 a f
  while read -r a f < <(awk '/^RssAnon/ { a = $2 } /^RssFile/ { f = $2 } END { print a, f }' \
    "/proc/$pid/status" 2>/dev/null) && [[ -n $a ]]; do
    ((a > anon)) && anon=$a
    ((f > file)) && file=$f
    sleep 0.002
  done
  wait "$pid" || true
  echo "$anon $file"
}
echo
echo "peak memory of framecmp: private (goal 2 x frame size + 4 MiB) and mapped file pages"
echo "(at most two windows of 64 MiB, or of a frame when that is larger):"
memory_row() {
  local label=$1 frame_size=$2
  shift 2
  local limit=$(((2 * frame_size + 4 * 1024 * 1024) / 1024))
  local mapped_limit=$(((frame_size > 67108864 ? 2 * frame_size : 2 * 67108864) / 1024))
  local anon file
  read -r anon file < <(peak_kib "$framecmp" "$@")
  printf '  %-44s %8s KiB  limit %8s KiB  %s;  mapped %8s KiB  limit %8s KiB  %s\n' \
    "$label" "$anon" "$limit" "$( ((anon <= limit)) && echo met || echo MISSED)" \
    "$file" "$mapped_limit" "$( ((file <= mapped_limit + 4096)) && echo met || echo MISSED)"
}
memory_row "yuv420p 1920x1088, identical" 3133440 1920 1088 "$work/a1088.yuv" "$work/b1088.yuv"
memory_row "yuv420p 1920x1088, every sample differs" 3133440 1920 1088 "$work/d1.yuv" "$work/d2.yuv"
memory_row "nv12 1920x1080, identical" 3110400 --pix-fmt=nv12 1920 1080 "$work/a1080.yuv" "$work/b1080.yuv"
memory_row "yuv420p10le 1920x1080, identical" 6220800 "${deep[@]}" "$work/a10.yuv" "$work/b10.yuv"
memory_row "yuv420p10le 1920x1080, every sample differs" 6220800 "${deep[@]}" "$work/d1_10.yuv" "$work/d2_10.yuv"
memory_row "gray16be 1920x1080, identical" 4147200 --pix-fmt=gray16be 1920 1080 "$work/a10.yuv" "$work/b10.yuv"
memory_row "yuv444p 1920x1080, identical" 6220800 --pix-fmt=yuv444p 1920 1080 "$work/a10.yuv" "$work/b10.yuv"

# The difference picture: drawn once, for one 3840x2160 10-bit frame.
"$make_sequence" "$work/k1.yuv" 3840 2160 1 --depth 10
"$make_sequence" "$work/k2.yuv" 3840 2160 1 --depth 10 --poke 0:100:9 --poke 0:9000000:0
frame_4k=$((3840 * 2160 * 3))
picture_4k=$(((3840 + 4) * (9 + 2160 + 4 + 9 + 1080) * 3))
read -r picture_seconds picture_kib < <(/usr/bin/time -f '%e %M' "$framecmp" --report=summary \
  --diff-image="$work/k.png" --pix-fmt=yuv420p10le --size=3840x2160 "$work/k2.yuv" "$work/k1.yuv" \
  2>&1 >/dev/null | tail -n 1)
picture_limit=$(((3 * frame_4k + 4 * 1024 * 1024 + picture_4k) / 1024))
echo
echo "--diff-image of a 3840x2160 10-bit frame pair:"
printf '  %-44s %8s s    goal < 1 s  %s\n' "whole run, picture written" "$picture_seconds" \
  "$(awk -v s="$picture_seconds" 'BEGIN { print s < 1 ? "met" : "MISSED" }')"
printf '  %-44s %8s KiB  limit %8s KiB (3 x frame + 4 MiB + picture)  %s\n' "peak memory" \
  "$picture_kib" "$picture_limit" "$( ((picture_kib <= picture_limit)) && echo met || echo MISSED)"
