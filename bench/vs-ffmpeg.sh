#!/usr/bin/env bash
# Times converting 10 minutes of 32 kHz audio with kestrune-adpcm-enc beside ffmpeg's
# IMA ADPCM encoder on the same file, and measures peak memory on a 200 MB input.
#   bench/vs-ffmpeg.sh [build folder, default build]
# Needs sox (to make the input) and ffmpeg; uses hyperfine when it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
enc="$PWD/$build/kestrune-adpcm-enc"
[ -x "$enc" ] || { echo "build first: cmake -S . -B $build && cmake --build $build"; exit 1; }
for tool in sox ffmpeg; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Speech-band tone sweeps over pink noise.
sox -n -r 32000 -c 1 -b 16 "$work/ten-minutes.wav" synth 600 sine 200-3400 pinknoise \
  remix - vol 0.4
ours="'$enc' '$work/ten-minutes.wav' '$work/ours.adp' 4ADP2"
theirs="ffmpeg -nostdin -loglevel error -y -i '$work/ten-minutes.wav' -c:a adpcm_ima_wav '$work/ffmpeg.wav'"

echo "== 10 minutes at 32 kHz ($(du -h "$work/ten-minutes.wav" | cut -f1))"
if command -v hyperfine >/dev/null; then
  hyperfine --warmup 2 --runs 10 -N "$ours" "$theirs" 2>/dev/null ||
    hyperfine --warmup 2 --runs 10 "$ours" "$theirs"
else
  for cmd in "$ours" "$theirs"; do
    best=
    for _ in 1 2 3 4 5; do
      t=$( { /usr/bin/time -f %e bash -c "$cmd" >/dev/null; } 2>&1 )
      [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ] && best=$t
    done
    echo "best of 5: ${best}s  $cmd"
  done
fi

echo "== peak memory on 200 MB"
sox -n -r 32000 -c 1 -b 16 "$work/big.wav" synth 3125 sine 200-3400 vol 0.4
du -h "$work/big.wav" | cut -f1
/usr/bin/time -f "file in:  %M KiB peak, %e s" "$enc" "$work/big.wav" "$work/big.adp" 4ADP2 >/dev/null
cat "$work/big.wav" |
  /usr/bin/time -f "pipe in:  %M KiB peak, %e s" "$enc" /dev/stdin "$work/big.adp" 4ADP2 >/dev/null
cat "$work/big.wav" |
  /usr/bin/time -f "pipe in and out: %M KiB peak, %e s (codes held until the header is known)" \
  "$enc" /dev/stdin /dev/stdout 4ADP2 | cat >/dev/null
