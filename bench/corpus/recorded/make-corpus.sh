#!/usr/bin/env bash
# Regenerates the recorded half of the speech corpus: human voices from Debian's packages,
# a few words each, joined with short pauses. ktuberling-data (GPL-2+) has words spoken in
# many languages by its translators; alsa-utils (GPL-2+) has the speaker-test voice.
# At most 4.5 s each. Two variants: speech under background noise, and a telephone-band recording.
# Mono 16-bit. Needs apt-get (download only), dpkg-deb and sox. The files are committed.
#   name             speaker                          median F0
#   en-m-16k         English, man                     116 Hz
#   de-m-8k          German, man                      140 Hz
#   wa-m-16k         Walloon, man                     138 Hz
#   uk-f-16k         Ukrainian, woman                 242 Hz
#   fr-f-8k          French, woman                    178 Hz
#   alsa-f-16k       English, woman                   182 Hz
#   da-h-16k         Danish, high voice               364 Hz
#   ru-noisy-16k     Russian, man, brown noise at -20 dB
#   ca-phone-8k      Catalan, man, band-limited 300-3400 Hz
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
(cd "$tmp" && chmod 777 . && apt-get download ktuberling-data alsa-utils >/dev/null &&
    for deb in *.deb; do dpkg-deb -x "$deb" x; done)
words="$tmp/x/usr/share/ktuberling/sounds"
alsa="$tmp/x/usr/share/sounds/alsa"

join() {  # name rate file...: the words at the rate, 150 ms apart, the first 4.5 s
    local name=$1 rate=$2 i=0 parts=()
    shift 2
    for f in "$@"; do
        sox -D -G "$f" -r "$rate" -c 1 -b 16 "$tmp/w$i.wav" pad 0 0.15
        parts+=("$tmp/w$i.wav")
        i=$((i + 1))
    done
    sox -V1 -D "${parts[@]}" "$name.wav" trim 0 4.5
}

join en-m-16k 16000 "$words"/en/{ball,coat,earring,egypt_camel,moon_rocket}.ogg
join de-m-8k 8000 "$words"/de/{ball,coat,earring,egypt_camel,moon_rocket}.ogg
join wa-m-16k 16000 $(ls "$words"/wa/*.* | head -5)
join uk-f-16k 16000 $(ls "$words"/uk/*.* | head -5)
join fr-f-8k 8000 "$words"/fr/{bouche,chapeau,cheveux,cravate,egypte_chameau}.wav
join alsa-f-16k 16000 "$alsa"/{Front_Center,Rear_Left,Side_Right}.wav
join da-h-16k 16000 $(ls "$words"/da/*.* | head -5)
join ru-16k 16000 "$words"/ru/{ball,coat,earring,egypt_camel,moon_rocket}.ogg
join ca-8k 8000 $(ls "$words"/ca/*.* | head -5)

sox -D ru-16k.wav -p synth brownnoise vol 0.1 | sox -D -m ru-16k.wav - -b 16 ru-noisy-16k.wav
sox -D ca-8k.wav ca-phone-8k.wav sinc 300-3400
rm ru-16k.wav ca-8k.wav
