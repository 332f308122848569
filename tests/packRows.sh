# kestrune-adpcm's promises for images and C source (pack, unpack, --format c), one
# function a row. pack_test runs each row as modern_tool_test runs its own: with bash in a
# fresh folder holding prompt.wav, under set -e, with $K the tool, $E and $D the legacy
# encoder and decoder, $M make-recording and $R the README.

# C source compiles and holds the device file's bytes; names collide clearly.
CSource() {
    $K encode --quiet prompt.wav -o p.adp
    $K encode --quiet --format c --c-section .rodata.v --c-align 4 prompt.wav -o 1st-prompt.h
    printf '#include "1st-prompt.h"
#include <stdio.h>
int main(void) { return fwrite(prompt_1st_prompt, 1, prompt_1st_prompt_length, stdout) != prompt_1st_prompt_length; }
' >m.c
    cc -std=c99 -Wall -Werror m.c -o m
    ./m | cmp - p.adp
    cp prompt.wav a-b.wav
    cp prompt.wav a_b.wav
    $K encode --format c -d c a-b.wav a_b.wav 2>err && exit 1
    grep -q "a_b.wav: its C name 'a_b' is also a-b.wav's" err
    # Any name compiles, with the others and <stdio.h>: what C, its library and the pack
    # header reserve is renamed, and guards keep case.
    mkdir h
    for n in uint8_t UINT8_MAX _Atomic __FILE__ __attribute__ INT8_C main MAX count image_length foo Foo; do
        $M prompt.wav h/$n.wav frames=80
    done
    $K encode --quiet -q 0 --format c -d h h/*.wav
    $K encode --quiet -q 0 --format c - -o - <prompt.wav >h/stdin.h
    $K pack --quiet -q 0 -o v.bin --header h/v.h --prefix UINT16 h/[!F]*.wav
    (echo '#include <stdio.h>'; printf '#include "%s"\n' h/*.h; echo 'int main(void) { return UINT16_COUNT != 11 || UINT16_COUNT_ != 6 || Foo_length != foo_length; }') >all.c
    cc -std=c99 -Wall -Werror all.c -o all
    ./all
}

# The image's index, read by a reader of its own, locates each device file; the README's
# make rule, run as it stands there, gives the image that packing the recordings does.
Pack() {
    mkdir rec bin
    i=999
    for n in b.wav a.flac c.ogg; do
        i=$((i + 3000))
        $M prompt.wav rec/$n frames=$i
    done
    sed -n '/^    RECS :=/,/kestrune-adpcm pack/s/^    //p' "$R" >Makefile
    ln -s "$K" bin/kestrune-adpcm
    PATH=$PWD/bin:$PATH make -s
    PATH=$PWD/bin:$PATH make -q
    set -- --loudness -23 --trim -r 16000
    $K pack "$@" -o v.bin --header v.h --json rec/* >v.json 2>err
    cmp v.bin voice.bin
    [ $(grep -c '^rec/[abc]\.[a-z]* -> v.bin: 16000 Hz, 4-bit, .* 0 clipped$' err) = 3 ]
    mkdir de
    for n in a.flac b.wav c.flac; do
        $M prompt.wav de/$n frames=300
    done
    printf 'c\nb\na.wav\n' >ids
    $K pack --quiet -o en.bin --header en.h --list ids rec/*
    $K pack --quiet -o de.bin --header de.h --prefix en --list ids de/*
    diff <(grep '^    EN_' en.h) <(grep '^    EN_' de.h)
    grep -q '^    EN_A = 2,$' de.h
    printf 'c.ogg\n# x\na.flac\n' >rec/list
    $K pack --quiet "$@" -o l.bin --list rec/list --align 16
    $K pack -o v.bin adp/a.adp 2>err && exit 1
    grep -q 'v.bin: exists' err
    printf 'Audi\x80\x01\x01\x04\x1f\x40\0\0\0\0\0\0' >adp/e.adp
    $K pack --quiet -o e.bin adp/e.adp
    [ $(tail -c 16 e.bin | od -An -tx1 | tr -d ' \n') = 41756469800101041f40000000000000 ]
    printf '#include "v.h"
int main(void) { return V_COUNT != 3 || V_B != 1 || v_offset[V_C] + v_length[V_C] != V_IMAGE_LENGTH; }
' >m.c
    cc -std=c99 -Wall -Werror m.c -o m
    ./m
    python3 -c '
import json, struct
for image, names, align in (("v.bin", "abc", 4), ("l.bin", "ca", 16)):
    b = open(image, "rb").read()
    magic, version, al, n, size = struct.unpack(">4sHHII", b[:16])
    assert (magic, version, al, n, size) == (b"KPAK", 1, align, len(names), len(b))
    for i, name in enumerate(names):
        off, length = struct.unpack(">II", b[16 + 8 * i:24 + 8 * i])
        assert off % align == 0 and b[off:off + length] == open("adp/" + name + ".adp", "rb").read()
m = json.load(open("v.json"))
assert (m["image"], m["count"], m["align"]) == ("v.bin", 3, 4)
assert [(p["id"], p["name"], p["input"]) for p in m["prompts"]] == [(0, "a", "rec/a.flac"), (1, "b", "rec/b.wav"), (2, "c", "rec/c.ogg")]
assert all(p["length"] == len(open("adp/" + p["name"] + ".adp", "rb").read()) for p in m["prompts"])
assert {"rate", "bits", "level", "tune", "snr_db", "loudness_in", "loudness_out", "gain_db", "trim_start_ms", "warnings"} <= set(m["prompts"][0])'
}

# pack warns as a batch of encode does: of prompts at several rates without -r, and under
# --quiet with the count alone; with -w a warning fails the pack.
PackWarnsAsEncodeDoes() {
    $M prompt.wav a.wav rate=16000 frames=8000
    $M prompt.wav b.wav rate=8000 frames=4000
    $K pack -q 0 -o v.bin a.wav b.wav 2>err
    grep -qx 'kestrune-adpcm: warning: 2 files came out at 2 rates (1 at 16000 Hz, 1 at 8000 Hz): 1.5 times the bytes they take with -r 8000' err
    $K pack -q 0 -f --quiet --gain 20 -o v.bin a.wav 2>err
    [ "$(cat err)" = 'kestrune-adpcm: 1 warning not shown (--quiet)' ]
    $K pack -q 0 -w --gain 20 -o w.bin a.wav 2>err && exit 1
    [ ! -e w.bin ]
}

# Refused before any work, all files kept: an output that is an input or another output, a
# header that exists, a list that is a folder, a cut device file. Pipes are read once, and
# a killed pack leaves nothing in $TMPDIR.
PackRefusalsAndInputs() {
    cp prompt.wav keep
    ln prompt.wav hard.wav
    $K encode --quiet prompt.wav -o p.adp
    head -c 100 p.adp >cut.adp
    echo x >h.h
    for args in 'pack -f -o prompt.wav prompt.wav' 'pack -f -o hard.wav prompt.wav' 'pack -o v.bin --header v.bin p.adp' 'pack -o v.bin --header h.h p.adp' 'pack -f -o v.bin --list . p.adp' 'pack -o v.bin cut.adp' 'report -f p.adp p.adp' 'encode -f --report prompt.adp prompt.wav' 'pack -o x --list - -'; do
        $K $args 2>>err && exit 1
    done
    if mknod full c 1 7 2>/dev/null; then
        $K pack -o v.bin --header full p.adp 2>/dev/null && exit 1
    fi
    cmp prompt.wav keep
    [ "$(cat h.h)" = x ]
    [ ! -e v.bin ]
    diff - err <<'END'
kestrune-adpcm: prompt.wav: cannot create prompt.wav: is the input itself
kestrune-adpcm: hard.wav: cannot create hard.wav: is the input prompt.wav
kestrune-adpcm: v.bin: same output as v.bin (v.bin)
kestrune-adpcm: h.h: exists (use -f to replace it)
kestrune-adpcm: .: is a folder
kestrune-adpcm: cut.adp: payload shorter than its length field (84 of 39882 bytes)
kestrune-adpcm: p.adp: cannot create p.adp: is the input itself
kestrune-adpcm: prompt.adp: same output as prompt.wav (prompt.adp)
kestrune-adpcm: standard input can be read only once
END
    mkfifo f
    cat prompt.wav >f &
    $K pack --quiet -o f.bin --header - f <(cat p.adp) >f.h
    grep -q '^    F_F = 1,$' f.h
    tail -c 39898 f.bin | cmp - p.adp
    mkdir t
    $M prompt.wav long.wav frames=2000000
    TMPDIR=$PWD/t $K pack -q 9 -o l.bin long.wav - <long.wav 2>/dev/null &
    sleep 0.5
    kill -TERM $!
    wait $! && exit 1
    [ -z "$(ls -A t)" ] && ! ls -A | grep -q '^\.kestrune-'
}

# info, decode and unpack read an image's prompts through one reader, which refuses a cut
# or corrupt image with the reason; unpacked and packed again it is the same image.
ImageRead() {
    $M prompt.wav a.wav frames=3000
    $M prompt.wav b.wav frames=5000
    $K pack --quiet -o v.bin a.wav b.wav
    $K unpack --quiet v.bin -d u
    $K pack --quiet -o w.bin u/*.adp
    cmp v.bin w.bin
    $K decode --quiet -d d v.bin
    $K decode --quiet u/v-1.adp -o b1.wav
    cmp d/v-1.wav b1.wav
    [ "$($K info v.bin | tail -1)" = 'v.bin[1]: 4-bit, 16000 Hz, 2500 bytes, 5000 samples, 0.312 s' ]
    mkfifo f
    cat u/v-0.adp >f &
    $K info f | grep -q '^f: 4-bit, 16000 Hz, 1500 bytes'
    head -c 100 v.bin >cut.bin
    cp v.bin bad.bin
    printf '\0\0\0\41' | dd of=bad.bin bs=1 seek=16 conv=notrunc 2>/dev/null
    for cmd in info decode 'unpack -d x'; do
        $K $cmd cut.bin 2>>err && exit 1
        $K $cmd bad.bin 2>>err && exit 1
    done
    [ $(grep -c '^kestrune-adpcm: cut.bin: its length field says 4064 bytes, the file holds 100$' err) = 3 ]
    [ $(grep -c '^kestrune-adpcm: bad.bin: prompt 0 lies outside its place (offset 33, 1516 bytes)$' err) = 3 ]
}
