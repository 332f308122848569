#!/usr/bin/env bash
# The flash budget's plan against the naive one (every prompt at the one rate and width
# that fits) on the corpus as one prompt set: at each budget, a share of what the set takes
# at the rates its recordings deserve, the loss (dB of SNR under the deserved sound) at
# worst and on average of each.
#   bench/build-budget.sh [build folder, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tool="$PWD/$build/kestrune-adpcm"
[ -x "$tool" ] || { echo "build first: cmake -S . -B $build && cmake --build $build"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{
    echo 'name,en'
    for f in bench/corpus/*/*.wav; do
        name=$(basename "$f" .wav)
        echo "${name//-/_},$PWD/$f"
    done
} >"$work/corpus.csv"
"$tool" build --quiet "$work/corpus.csv" -d "$work/full"
full=$(stat -c %s "$work/full/en.bin")
echo "the corpus, $(($(wc -l <"$work/corpus.csv") - 1)) prompts, at the rates they deserve: $full bytes"
for share in 75 50 35 25; do
    budget=$((full * share / 100))
    "$tool" build --budget "$budget" "$work/corpus.csv" -d "$work/b$share" 2>"$work/err"
    plan=$(sed -n 's/.*plan en: loss \(.*\)/\1/p' "$work/err")
    naive=$(sed -n 's/.*one rate for all \(.*\)/\1/p' "$work/err")
    echo "budget $share% ($budget bytes): plan $plan; one rate for all $naive"
done
