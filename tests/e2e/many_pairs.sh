#!/bin/bash
# The README's recipe for many pairs, run on generated pairs: GNU parallel where it is
# installed, and xargs -P always. Each run writes its JSON stats file and its verdict;
# the verdicts must be 0 for the equal pairs and 1 for the differing one.
# Usage: many_pairs.sh FRAMECMP MAKE_SEQUENCE
set -euo pipefail
framecmp=$1
make_sequence=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for i in 1 2 3 4; do
  "$make_sequence" "ref$i.yuv" 64 32 3
  "$make_sequence" "dec$i.yuv" 64 32 3 $([[ $i == 3 ]] && echo --poke 1:5:0)
  echo "dec$i.yuv ref$i.yuv" >>pairs.txt
done
export PATH="$(dirname "$framecmp"):$PATH"

check() {
  local verdicts=$1
  [[ $(wc -l <"$verdicts") == 4 ]] || { echo "missing verdicts in $verdicts"; exit 1; }
  [[ $(awk '$1 != 0 { print $2 }' "$verdicts") == dec3.yuv ]] || {
    echo "wrong verdicts:"; cat "$verdicts"; exit 1; }
  grep -q '"verdict": "differ"' dec3.yuv.json || { echo "dec3.yuv.json lacks its verdict"; exit 1; }
  for i in 1 2 4; do grep -q '"verdict": "identical"' "dec$i.yuv.json"; done
  rm -f ./*.json
}

xargs -P "$(nproc)" -L 1 sh -c 'framecmp --report=summary --exit-code --threads=1 \
  --size=64x32 --stats-file="$0.json" "$0" "$1" >/dev/null 2>&1; echo "$? $0"' \
  <pairs.txt >verdicts.txt
check verdicts.txt

if command -v parallel >/dev/null; then
  parallel --will-cite --colsep ' ' -j "$(nproc)" \
    'framecmp --report=summary --exit-code --threads=1 --size=64x32 \
       --stats-file={1}.json {1} {2} >/dev/null 2>&1; echo "$? {1}"' \
    :::: pairs.txt >parallel.txt
  check parallel.txt
  echo "xargs and parallel recipes: ok"
else
  echo "xargs recipe: ok (parallel is not installed)"
fi
