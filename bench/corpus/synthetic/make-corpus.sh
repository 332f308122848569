#!/usr/bin/env bash
# Regenerates the speech corpus the search encoder is measured on: spoken prompts from
# espeak-ng in several voices, speeds and pitches, at 8 and 16 kHz, and sox variants of
# some of them (background noise, a loud clipped passage, a quiet passage). Mono 16-bit.
# Needs espeak-ng and sox. The files are committed, so that every machine measures the
# same samples whatever its espeak-ng version.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

say() {  # name voice speed pitch rate text
    espeak-ng -v "$2" -s "$3" -p "$4" -w "$tmp/$1.wav" "$6"
    sox -D -G "$tmp/$1.wav" -r "$5" -c 1 -b 16 -e signed-integer "$1.wav"
}

say us-150-8k en-us 150 50 8000 "Please enter your account number, followed by the pound key."
say rp-120-8k en-gb-x-rp 120 30 8000 "Your call is important to us. Please stay on the line."
say de-170-8k de 170 60 8000 "Bitte geben Sie jetzt Ihre vierstellige Geheimzahl ein."
say fr-140-8k fr 140 70 8000 "Le niveau de la batterie est faible. Veuillez recharger."
say us-190-16k en-us+f3 190 65 16000 "Three, seven, nine, two. Access granted. Welcome back."
say es-130-16k es 130 40 16000 "Gire a la izquierda en cien metros y luego siga recto."
say sc-160-16k en-gb-scotland+m3 160 25 16000 "Warning. The door is open. Please close the door."
say it-150-16k it+f2 150 80 16000 "Attenzione, temperatura elevata. Spegnere il dispositivo."

# Variants: speech over background noise, a passage driven into clipping, a quiet one.
sox -D us-190-16k.wav -p synth brownnoise vol 0.04 | sox -D -m us-190-16k.wav - -b 16 noisy-16k.wav
sox -D -G rp-120-8k.wav clipped-8k.wav gain 14
sox -D es-130-16k.wav quiet-16k.wav gain -32
