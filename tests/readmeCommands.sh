#!/usr/bin/env bash
# Every command the README shows a user typing, run as written, in README order, in a
# folder that holds what they name (the bundled prompt, recordings of several formats).
# A command is an indented line whose first word is one of the tools, sox, play or
# ./build/kestrune-adpcm, taken segment by segment between '&&' (the install and build
# steps of the quick start are CI's own); a synopsis (with '[', '<' or '...', or a column
# of descriptions after it) is not one.
#   readmeCommands.sh README BUILD MAKE_RECORDING
set -euo pipefail
readme=$1 build=$2 make=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p bin build examples rec recordings
ln -s "$build/kestrune-adpcm" build/kestrune-adpcm
for tool in kestrune-adpcm kestrune-adpcm-enc kestrune-adpcm-dec; do ln -s "$build/$tool" bin/; done
printf '#!/bin/sh\nexec sox -q "$1" -n\n' >bin/play  # plays nothing: checks the file is audio
chmod +x bin/play
export PATH=$work/bin:$PATH
prompt=$(dirname "$readme")/examples/prompt.wav
cp "$prompt" "${prompt%.wav}s.csv" "${prompt%.wav}s.lock" examples/
"$make" "$prompt" recordings/hello.wav rate=48000 channels=2
"$make" "$prompt" recordings/bye.wav rate=22050 frames=30000
cp recordings/*.wav rec/
"$make" "$prompt" rec/menu.flac rate=44100
mkdir en de
"$make" "$prompt" en/hello.wav frames=8000
"$make" "$prompt" en/bye.wav frames=6000
"$make" "$prompt" de/hello.flac frames=9000
"$make" "$prompt" de/bye.ogg frames=7000
printf 'hello\nbye\n' >ids.txt
kestrune-adpcm encode --quiet -q 0 examples/prompt.wav -o prompt.adp
command -v sox >/dev/null && sox "$prompt" speech.flac
commands=$(awk '/^    / { sub(/^    /, ""); print }' "$readme" |
    sed 's/ && /\n/g' |
    grep -E '^(kestrune-adpcm(-enc|-dec)?|sox|play|\./build/kestrune-adpcm) ' |
    grep -vE '\[|<|\.\.\.|   ' || true)
[ -n "$commands" ] || { echo "no commands found in $readme"; exit 1; }
while IFS= read -r command; do
    case $command in sox*) command -v sox >/dev/null || continue ;; esac
    echo "\$ $command"
    bash -c "set -eo pipefail; $command" </dev/null || { echo "failed: $command"; exit 1; }
done <<<"$commands"
