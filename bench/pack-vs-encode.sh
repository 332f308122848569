#!/usr/bin/env bash
# Times packing 1,000 three-second prompts into one image beside encoding them: packing
# device files (the make rule's second step) against encoding the recordings at the
# default level.
#   bench/pack-vs-encode.sh [build folder, default build] [files, default 1000]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
files=${2:-1000}
tool="$PWD/$build/kestrune-adpcm"
make="$PWD/$build/tests/make-recording"
[ -x "$tool" ] && [ -x "$make" ] || { echo "build first: cmake -S . -B $build && cmake --build $build"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
"$make" examples/prompt.wav "$work/prompt.wav" rate=48000 channels=2 frames=144000
for i in $(seq -w 1 "$files"); do cp "$work/prompt.wav" "$work/in/p$i.wav"; done
seconds() { local start end; start=$(date +%s.%N); "$@"; end=$(date +%s.%N); awk "BEGIN { printf \"%.2f\", $end - $start }"; }
encode=$(seconds "$tool" encode --quiet -r 16000 -d "$work/adp" "$work"/in/*.wav)
pack=$(seconds "$tool" pack --quiet -o "$work/voice.bin" --header "$work/voice.h" "$work"/adp/*.adp)
echo "encode $files prompts: $encode s; pack their device files: $pack s"
