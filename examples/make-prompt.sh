#!/usr/bin/env bash
# Regenerates examples/prompt.wav: a short spoken prompt, mono 16-bit at 16 kHz.
# Needs espeak-ng and sox.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp --suffix=.wav)
trap 'rm -f "$tmp"' EXIT
espeak-ng -v en-us -s 150 -w "$tmp" "Welcome. Please say or enter your four digit code after the tone."
sox -D "$tmp" -r 16000 -c 1 -b 16 -e signed-integer prompt.wav
