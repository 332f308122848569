# kestrune-adpcm's promises, one function a row, grouped by class. modern_tool_test runs
# each row with bash in a fresh folder holding prompt.wav, under set -e, with $K the tool,
# $E and $D the legacy encoder and decoder, $M make-recording and $R the README; a row holds when its
# function returns 0, and a failing row's test shows the commands it ran last.

# level 0 is the legacy encoder, and decoding the legacy decoder
LegacyBytes() {
    $E prompt.wav l4 4ADP2 >/dev/null
    $E prompt.wav l2 2ADP2 >/dev/null
    $K encode -q 0 prompt.wav -o n4 2>/dev/null
    $K encode -q 0 -b 2 prompt.wav -o n2 2>/dev/null
    cmp l4 n4
    cmp l2 n2
    $D n4 lw >/dev/null
    $K decode n4 -o nw 2>/dev/null
    cmp lw nw
}

# averaged, or one taken
Channels() {
    $K encode -q 0 prompt.wav -o mono.adp 2>/dev/null
    $M prompt.wav both.wav channels=2
    $M prompt.wav right.wav channels=2 only=2
    $K encode -q 0 both.wav -o b.adp 2>/dev/null
    $K encode -q 0 --channel 2 right.wav -o r.adp 2>/dev/null
    cmp mono.adp b.adp
    cmp mono.adp r.adp
    $K encode --channel 3 both.wav -o c.adp 2>err && exit 1
    [ ! -e c.adp ]
    grep -qx 'kestrune-adpcm: both.wav: has no channel 3 (it has 2)' err
}

# A warning is shown, or counted under --quiet, or with -w fails its file.
WarningsAreNeverLost() {
    $K encode --gain 20 prompt.wav -o loud.adp 2>err
    grep -q '^kestrune-adpcm: prompt.wav: warning: [1-9][0-9]* samples clipped$' err
    $K encode -f --quiet --gain 20 prompt.wav -o loud.adp 2>err
    [ "$(cat err)" = 'kestrune-adpcm: 1 warning not shown (--quiet)' ]
    $K encode -w --gain 20 prompt.wav -o w.adp 2>err && exit 1
    [ ! -e w.adp ]
    grep -qx 'kestrune-adpcm: prompt.wav: [0-9]* samples clipped (a warning, made an error by -w)' err
    $K encode prompt.wav -o q.adp 2>&1 | grep -q warning && exit 1
    true
}

BatchWithBadFilesAlikeForAnyJobs() {
    $M prompt.wav a.wav rate=48000 channels=2
    $M prompt.wav b.flac rate=8000
    echo not audio > text.wav
    for j in 1 2; do
        $K encode -j $j -d out$j a.wav b.flac text.wav no.wav 2>err$j && exit 1
    done
    cmp out1/a.adp out2/a.adp
    cmp out1/b.adp out2/b.adp
    [ "$(ls -A out1)" = "$(printf 'a.adp\nb.adp')" ]
    grep -qx 'kestrune-adpcm: text.wav: not audio that can be read: .*' err2
    grep -qx 'kestrune-adpcm: no.wav: cannot open: No such file or directory' err2
    grep -qx 'a.wav -> out2/a.adp: 32000 Hz, 4-bit, 4.99 s, 79765 bytes, level 5 perceptual, SNR [0-9.]* dB, segSNR [0-9.]* dB, wSNR [0-9.]* dB, 0 clipped' err2
    grep -qx 'kestrune-adpcm: warning: 2 files came out at 2 rates (1 at 32000 Hz, 1 at 8000 Hz): 2.5 times the bytes they take with -r 8000' err2
    grep -qx '4 files: 2 encoded, 2 failed, 0 skipped' err2
    echo kept >out1/a.adp
    $K encode -n -d out1 a.wav b.flac 2>err
    [ "$(cat out1/a.adp)" = kept ]
    grep -qx '2 files: 0 encoded, 0 failed, 2 skipped' err
    grep -q lowered err2 && exit 1
    true
}

PipesInAndOut() {
    $M prompt.wav file.flac rate=44100 channels=2
    cat file.flac | $K encode - -o - 2>/dev/null > piped.adp
    $K encode --quiet file.flac
    cmp piped.adp file.adp
    $K encode --quiet file.flac -o - | cat > streamed.adp
    [ ${PIPESTATUS[0]} = 0 ]
    cmp streamed.adp file.adp
    cat file.adp | $K decode - -o - 2>/dev/null > p.wav
    $K decode --quiet file.adp
    cmp p.wav file.wav
}

Info() {
    $K encode -b 2 prompt.wav -o g.adp 2>/dev/null
    $K info g.adp prompt.wav >out 2>err && exit 1
    [ "$(cat out)" = 'g.adp: 2-bit, 16000 Hz, 19941 bytes, 79764 samples, 4.985 s' ]
    [ "$(cat err)" = 'kestrune-adpcm: prompt.wav: not a device file (no "Audi" mark)' ]
    printf 'Audi\x80\x01\x01\x04\x1f\x40\0\0\x80\0\0\0' >big.adp
    truncate -s 2147483664 big.adp
    [ "$($K info big.adp)" = 'big.adp: 4-bit, 8000 Hz, 2147483648 bytes, 4294967296 samples, 536870.912 s' ]
}

Json() {
    $K encode --json -b 2 -d j prompt.wav no.wav >enc.json 2>/dev/null && exit 1
    cp j/prompt.adp g.adp
    $K info --json g.adp prompt.wav >info.json && exit 1
    cp prompt.wav "$(printf '\xff\xfe.wav')"
    $K encode --json --quiet ./*.wav -d u >u.json
    python3 -c '
import json
good, bad = json.load(open("enc.json"))
assert set(good) == {"input", "output", "ok", "error", "rate", "bits", "samples", "bytes", "level", "tune", "snr_db", "segsnr_db", "wsnr_db", "clipped", "nonfinite", "warnings", "skipped", "loudness_in", "loudness_out", "gain_db", "limited", "trim_start_ms", "trim_end_ms", "playback_peak_dbfs", "headroom_db"}
assert good["gain_db"] is None and good["limited"] is None and good["headroom_db"] is None
assert good["ok"] and not bad["ok"] and bad["error"] and good["error"] is None
assert (bad["rate"], bad["bits"], bad["samples"]) == (None, 2, None)
assert (good["rate"], good["bits"], good["samples"], good["bytes"]) == (16000, 2, 79764, 19941)
assert good["snr_db"] > 10 and good["clipped"] == 0
assert all(round(good[k], 2) == good[k] for k in ("snr_db", "segsnr_db", "wsnr_db"))
assert (good["level"], good["tune"]) == (5, "perceptual")
info = json.load(open("info.json"))
assert info[0] == {"path": "g.adp", "ok": True, "error": None, "bits": 2, "rate": 16000, "bytes": 19941, "samples": 79764, "seconds": 4.985, "warnings": []}
assert not info[1]["ok"] and "Audi" in info[1]["error"]
assert "./\ufffd\ufffd.wav" in [o["input"] for o in json.load(open("u.json"))]'
    jq -e 'length == 2' u.json >/dev/null
}

UsageErrorsExit2WithOneLine() {
    for args in '' encode 'encode -r 44100 prompt.wav' 'encode -b 3 prompt.wav' 'encode -q 10 prompt.wav' 'encode -o x prompt.wav prompt.wav' 'encode -o x -d y prompt.wav' 'encode --gain 3 --normalize prompt.wav' 'encode -' 'encode --json -o - prompt.wav' 'decode - -' 'encode --gain nan prompt.wav' 'encode --gain -inf prompt.wav' 'encode --gain 1e400 prompt.wav' 'encode --normalize 3 prompt.wav' 'encode --output= prompt.wav' 'encode --directory= prompt.wav' 'encode --c-align 1 prompt.wav' 'encode --peak 0.5 prompt.wav' 'encode --trim-margin nan prompt.wav' 'encode --trim=inf prompt.wav' 'report --loudness nan r.html x.adp' 'encode -n -f prompt.wav'; do
        set +e
        $K $args >out 2>err
        rc=$?
        set -e
        [ $rc = 2 ]
        [ ! -s out ]
        [ $(wc -l <err) = 1 ]
        grep -q '^kestrune-adpcm: ' err
    done
    $K encod x 2>err && exit 1
    grep -q "unknown command 'encod' (did you mean 'encode'?)" err
    $K encode "$(printf -- '--x\ny')" prompt.wav 2>err && exit 1
    [ $(wc -l <err) = 1 ]
    $K encode -r 16k x 2>err && exit 1
    grep -q "16k.*4000, 5300, 6400, 8000, 10600, 12800, 16000 or 32000 (Hz); see 'kestrune-adpcm encode --help'$" err
    $K report --sorces x r.html 2>err && exit 1
    grep -q "not expected: --sorces (did you mean '--sources'?); see 'kestrune-adpcm report --help'$" err
    for c in '' encode decode info pack report; do $K $c --help | awk 'length > 100 { exit 1 }'; done
    $K encode --help | grep -q -- '--normalize\[=DBFS\] '
    [ "$($K --version)" = 'kestrune-adpcm 1.0.0' ]
}

NormalizeTakesTheLevelWrittenEitherWay() {
    $K encode --normalize -3 prompt.wav -o a.adp 2>/dev/null
    $K encode --normalize=-3 prompt.wav -o b.adp 2>/dev/null
    cmp a.adp b.adp
    $K encode prompt.wav --normalize -o c.adp 2>/dev/null
    cmp a.adp c.adp && exit 1
    true
}

# Existing files are kept without -f, the batch goes on, and outputs are compared by
# what they name.
OverwriteAndIdentity() {
    $M prompt.wav talk.wav rate=48000 channels=2 type=s24
    cp talk.wav keep
    $K encode -q 0 talk.wav 2>/dev/null
    $K decode talk.adp 2>err && exit 1
    cmp talk.wav keep
    grep -qx 'kestrune-adpcm: talk.wav: exists (use -f to replace it)' err
    $K decode -n talk.adp 2>err
    cmp talk.wav keep
    grep -qx 'talk.adp -> talk.wav: exists, skipped' err
    $K decode -f --quiet talk.adp
    cmp -s talk.wav keep && exit 1
    mkdir o
    echo old >o/talk.adp
    $K encode -q 0 -d o talk.wav prompt.wav 2>/dev/null && exit 1
    [ "$(cat o/talk.adp)" = old ]
    [ -s o/prompt.adp ]
    mkdir d1 d2 x
    cp talk.adp d1/v.adp
    cp talk.adp d2/v.adp
    $K decode -d dd d1/v.adp d2/v.adp 2>err && exit 1
    grep -qx 'kestrune-adpcm: d2/v.adp: same output as d1/v.adp (dd/v.wav)' err
    cp prompt.wav k.wav
    cp prompt.wav k.flac
    $K encode k.wav ./k.flac 2>err && exit 1
    cp prompt.wav x/v.wav
    $K encode x//v.wav x/v.wav 2>>err && exit 1
    [ $(grep -c 'same output as' err) = 2 ]
    grep -q '^kestrune-adpcm: x/v.wav: same output as x//v.wav' err
    node nul 1 3
    $K encode -q 0 --quiet prompt.wav -o nul
    [ -c nul ]
}

EveryFileSucceedsWhateverTheDescriptorLimit() {
    $M prompt.wav one.wav frames=400
    for i in $(seq 300); do
        cp one.wav t$i.wav
    done
    (ulimit -n 40; $K encode -q 0 -j 64 -d o t*.wav 2>err)
    [ $(ls o | wc -l) = 300 ]
    grep -q '^kestrune-adpcm: -j 64 lowered to' err
    (ulimit -n 40; $K encode -q 0 -j 64 -d o3 --quiet t*.wav 2>err)
    [ ! -s err ]
    $K encode -q 0 -j 1024 -d o2 --quiet t*.wav t*.wav 2>/dev/null && exit 1
    [ $(ls o2 | wc -l) = 300 ]
}

StandardOutputWriteFailure() {
    $K encode --quiet prompt.wav
    $K encode -f --quiet prompt.wav >&-
    $K info --json prompt.adp >&- 2>err && exit 1
    grep -qx 'kestrune-adpcm: standard output: Bad file descriptor' err
    node full 1 7
    $K info prompt.adp >full 2>err && exit 1
    grep -qx 'kestrune-adpcm: standard output: No space left on device' err
    $K encode --json -q 0 prompt.wav -o j.adp >full 2>err && exit 1
    grep -q '^kestrune-adpcm: standard output: No space left' err
    $K encode -q 0 prompt.wav -o - >full 2>err && exit 1
    grep -q 'cannot write standard output: No space left on device' err
    $K info --json $(yes prompt.adp | head -300) >full 2>err && exit 1
    grep -qx 'kestrune-adpcm: standard output: No space left on device' err
    [ -c full ]
}

TruthfulReasons() {
    $K encode prompt.wav -o prompt.wav/x 2>err && exit 1
    grep -q 'Not a directory$' err
    $K decode prompt.wav 2>err && exit 1
    grep -q 'not a device file' err
    $K encode -d made/sub no.wav 2>/dev/null && exit 1
    $K encode -o made/sub/x.adp no.wav 2>/dev/null && exit 1
    [ ! -e made ]
    mkfifo f
    $K encode -d made/sub f &
    until [ -d made/sub ]; do
        sleep 0.05
    done
    sleep 0.1
    kill -TERM $!
    ! wait $!
    [ ! -e made ]
    $K encode "$(printf 'a\nb\e[31m\xc3\xb6\xff.wav')" 2>err && exit 1
    [ "$(cat err)" = "kestrune-adpcm: 'a'\$'\\n''b'\$'\\033''[31mö'\$'\\377''.wav': cannot open: No such file or directory" ]
    cp prompt.wav "$(printf 'r\n.wav')"
    $K encode -f --report "$(printf 'r\n.wav')" "$(printf 'r\n.wav')" -o r.adp 2>err && exit 1
    [ "$(cat err)" = "kestrune-adpcm: 'r'\$'\\n''.wav': cannot create 'r'\$'\\n''.wav': is the input itself" ]
}

OddSamplesAndTruncation() {
    $M prompt.wav nan.wav type=float nan=1000
    $K encode --json nan.wav >j.json 2>err
    grep -qx 'kestrune-adpcm: nan.wav: warning: 160 samples not finite (NaN or infinite), played as silence' err
    grep -q '"nonfinite":160' j.json
    $M prompt.wav s.wav rate=48000
    $M prompt.wav s.flac
    $M prompt.wav s.mp3
    for f in s.wav s.flac s.mp3; do
        head -c 30000 $f >cut.${f#s.}
        $K encode -f --json cut.${f#s.} >>j.json 2>>err
    done
    grep -q 'cut.wav: warning: truncated: its header promises 239295 frames, 14978 read$' err
    grep -q 'cut.flac: warning: cut short (.*): [0-9]* of 79765 frames read$' err
    grep -q 'cut.mp3: warning: truncated: [0-9]* of 79765 frames read$' err
    [ $(grep -c '"warnings":\["' j.json) = 4 ]
    grep -v '^kestrune-adpcm: \| -> ' err && exit 1
    $M prompt.wav sil.wav scale=0
    $K encode --json sil.wav 2>err | jq -e '.[0] | .snr_db == null and .segsnr_db == null' >/dev/null
    grep -q 'SNR n/a, segSNR n/a, wSNR n/a' err
    $M prompt.wav huge.wav type=float scale=1e38 channels=2
    $K encode -r 8000 huge.wav 2>&1 | grep -q ': warning: [0-9]\{5\} samples clipped$'
    $M prompt.wav inv.wav scale=-1
    $K encode --normalize=0 inv.wav 2>&1 | grep -q ' 0 clipped$'
    $M prompt.wav mid.wav frames=40000
    $K encode --trim mid.wav 2>err
    grep -q 'mid.wav: warning: nothing trimmed: its ends lie only 1[0-9].[0-9] dB under its peak, above the trim threshold of -50 dB$' err
    $K encode --trim -o t.adp sil.wav 2>err
    grep -q 'sil.wav: warning: silent; trimmed to its first 80 ms' err
    [ "$($K info t.adp)" = 't.adp: 4-bit, 16000 Hz, 640 bytes, 1280 samples, 0.080 s' ]
}

# What a terminal shows: progress with the time left, none under --quiet, and a line
# that a signal ends.
ProgressOnATerminal() {
    script -qfec "$K encode - -o x.adp" /dev/null </dev/null >tty && exit 1
    grep -q 'standard input is a terminal' tty
    [ ! -e x.adp ]
    for f in a b c; do
        cp prompt.wav $f.wav
    done
    script -qfec "$K encode -q 9 -j 1 -d o a.wav b.wav c.wav" /dev/null >tty
    grep -q '/3 files, .*x real time, 0:0[0-9] left' tty
    grep -q 'c.wav -> o/c.adp' tty
    script -qfec "$K encode -f --quiet -q 9 -d o a.wav" /dev/null >quiet
    [ ! -s quiet ]
    script -qfec "$K encode -q 9 -j 1 -d p a.wav b.wav c.wav & echo \$! >pid; wait" /dev/null >cut &
    until grep -q 'real time' cut; do
        sleep 0.05
    done
    kill -TERM $(cat pid)
    wait $!
    [ "$(tail -c 1 cut | od -An -c | tr -d ' ')" = '\n' ]
    grep -q $'real time[^\\n]*\r$' cut
}

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

NonRegularInputsAreReadLikeStandardInput() {
    $M prompt.wav s.flac rate=44100 channels=2
    $K encode -q 1 --normalize -3 --quiet s.flac
    cat s.flac | $K encode -q 1 --normalize -3 - -o b.adp
    cmp s.adp b.adp
    $K encode -q 1 --normalize=-3 <(cat s.flac) -o c.adp
    cmp s.adp c.adp
    mkfifo f
    cat s.flac >f &
    $K encode -q 1 --normalize -3 f -o d.adp
    cmp s.adp d.adp
    cat s.flac | TMPDIR=/nowhere $K encode - -o e.adp 2>err && exit 1
    grep -q 'cannot hold the input: No such file or directory' err
}

# Names, warnings and paths in the listening report stay text, whatever their bytes: an
# HTML5 parser meets no error and finds the page's elements as made, and the data holds
# them as given (U+FFFD for bytes that are not UTF-8).
ListeningReportKeepsNamesInert() {
    $K encode --quiet prompt.wav -o p.adp
    for n in 'a<!--KESTRUNE_AUDIO--><img src=x onerror=alert(1)>' '<!--<script>' "$(printf 'b\xff')"; do
        cp p.adp "$n.adp"
    done
    printf './p.adp\tno</script x><!--<script y><img src=x>.wav\n' >list
    $K report --quiet --sources list r.html ./*.adp
    for py in python3 /usr/bin/python3; do
        $py -c 'import html5lib' 2>/dev/null && break
    done
    $py -c '
import html5lib, json
page = html5lib.HTMLParser(strict=True, namespaceHTMLElements=False).parse(open("r.html", "rb"))
scripts = page.findall(".//script")
assert [s.get("id") for s in scripts] == ["kestrune-data", None, "d0", "d1", "d2", "d3"]
assert not page.findall(".//img")
data = json.loads(scripts[0].text)
assert sorted(p["name"] for p in data["prompts"]) == ["<!--<script>", "a<!--KESTRUNE_AUDIO--><img src=x onerror=alert(1)>", "b\ufffd", "p"]
assert "source no</script x><!--<script y><img src=x>.wav: cannot open: No such file or directory" in sum((p["warnings"] for p in data["prompts"]), [])'
}

# Levelled prompts play at the target, trimmed or not, or say how far off they play, and
# under the ceiling but at level 0; the report prepares each source as encode did, and says
# by how much a source left unprepared differs from the playback.
LevelledAsPlayedAndReportedAlike() {
    for f in 6000 12000; do
        $M prompt.wav s$f.wav frames=$f lead=16000 tail=16000 scale=0.3
    done
    $K encode -q 1 --json --loudness -23 --trim s*.wav >j.json 2>enc
    jq -e 'all(.[]; (.loudness_out + 23 | fabs) < 0.2 and .warnings == [])' j.json
    $K report --loudness -23 --trim r.html s*.adp 2>rep
    [ "$(grep -o 'SNR.*dB' enc)" = "$(grep -o 'SNR.*dB' rep)" ]
    grep -q warning rep && exit 1
    $K report -f r.html s6000.adp 2>rep
    grep -q 's6000.adp: warning: the prepared source is [0-9]* samples (.* ms) longer than the playback' rep
    grep -q 'SNR n/a, segSNR n/a, wSNR n/a, against' rep
    $K encode -b 2 --loudness -8 --json prompt.wav >c.json 2>err
    grep -q 'warning: plays at -1[0-9].[0-9] LUFS, [0-9.]* dB under its target of -8; the limiter' err
    # The search holds the playback under the ceiling; level 0, the vendor's, says it passes it.
    grep -q 'limited, playback peaks at -4.0 dBFS, 0.0 dB under the ceiling$' err
    jq -e '.[0].playback_peak_dbfs <= -4 and .[0].headroom_db >= 0' c.json
    $K encode -q 0 -b 2 --loudness -8 --json -o z.adp prompt.wav 2>err | jq -e '.[0].headroom_db < 0'
    grep -q 'playback peaks at -[0-3].[0-9] dBFS, [0-9.]* dB over the ceiling$' err
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
