#!/usr/bin/env bash
# Times a batch of 1,000 three-second prompts (48 kHz stereo WAV) converted to 16 kHz 4-bit
# at level 0: kestrune-adpcm in one process on two threads, beside the shell pipeline it
# replaces (sox resampling into kestrune-adpcm-enc, two at a time under xargs).
#   bench/batch-vs-sox.sh [build folder, default build] [files, default 1000]
# Needs sox; uses hyperfine when it is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
files=${2:-1000}
tool="$PWD/$build/kestrune-adpcm"
enc="$PWD/$build/kestrune-adpcm-enc"
[ -x "$tool" ] && [ -x "$enc" ] || { echo "build first: cmake -S . -B $build && cmake --build $build"; exit 1; }
command -v sox >/dev/null || { echo "sox is not installed"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
# Three seconds of the bundled prompt, as a 48 kHz stereo recording, a thousand times.
sox -D examples/prompt.wav -r 48000 -c 2 "$work/prompt.wav" trim 0 3
for i in $(seq -w 1 "$files"); do cp "$work/prompt.wav" "$work/in/p$i.wav"; done

# Each run starts with its output folder empty and the disk idle (outside the timing).
clear_ours="rm -rf '$work/ours' && sync"
clear_sox="rm -rf '$work/sox' && mkdir '$work/sox' && sync"
ours="'$tool' encode --quiet -q 0 -r 16000 -j 2 -d '$work/ours' '$work'/in/*.wav"
theirs="ls '$work'/in/*.wav | xargs -P 2 -I{} sh -c \
'sox -D \"\$1\" -t wav -r 16000 -c 1 -b 16 - | \"$enc\" /dev/stdin \"$work/sox/\$(basename \"\$1\" .wav).adp\" 4ADP2 >/dev/null' _ {}"
if command -v hyperfine >/dev/null; then
  hyperfine --warmup 1 --runs 5 --prepare "$clear_ours" --prepare "$clear_sox" \
    -n "kestrune-adpcm -j 2" "$ours" -n "xargs -P 2 sox | kestrune-adpcm-enc" "$theirs"
else
  for which in ours sox; do
    if [ $which = ours ]; then prep=$clear_ours cmd=$ours; else prep=$clear_sox cmd=$theirs; fi
    bash -c "$prep"
    start=$(date +%s.%N); bash -c "$cmd"; end=$(date +%s.%N)
    echo "$(echo "$end - $start" | bc) s: $which"
  done
fi
# Both must have made every file, and (the resamplers differing) files of the same size.
[ "$(ls "$work/ours" | wc -l)" = "$files" ] && [ "$(ls "$work/sox" | wc -l)" = "$files" ]
cmp <(cd "$work/ours" && ls -l | awk '{print $5, $9}') <(cd "$work/sox" && ls -l | awk '{print $5, $9}') \
  && echo "every output has the same size both ways"
