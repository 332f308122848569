# kestrune-adpcm build's promises, one function a row (run by build_test as modern_tool_test
# runs its rows): $K the tool, $M make-recording, in a fresh folder holding prompt.wav.

# An image read without the tool: its index, the ID table's hash after it, a whole device
# file at every ID; prints "ID LENGTH" per prompt and checks the hash against prompts.h.
function read_image {
    python3 - "$1" out/prompts.h <<'PY'
import re, struct, sys
b = open(sys.argv[1], 'rb').read()
assert b[:4] == b'KPAK', b[:4]
version, align, n, length = struct.unpack('>HHII', b[4:16])
assert version == 1 and length == len(b)
assert b[16 + 8 * n:20 + 8 * n] == b'KIDH'
want = re.search(r'PROMPT_ID_HASH (0x[0-9a-f]{8})u', open(sys.argv[2]).read()).group(1)
assert struct.unpack('>I', b[20 + 8 * n:24 + 8 * n])[0] == int(want, 16)
for i in range(n):
    off, ln = struct.unpack('>II', b[16 + 8 * i:24 + 8 * i])
    assert off % align == 0 and b[off:off + 4] == b'Audi'
    assert struct.unpack('>I', b[off + 12:off + 16])[0] + 16 == ln
    print(i, ln)
PY
}

# Three languages, recordings for some prompts and placeholders for the rest; a prompt
# inserted, one removed and one moved keep every ID, the removed one retired; a rebuild
# takes unchanged prompts from the cache and gives a clean build's bytes.
StableIdsAcrossEdits() {
    mkdir rec
    $M prompt.wav rec/hello.wav frames=6000
    $M prompt.wav rec/hallo.flac frames=5000 rate=22050
    printf 'name,en,en.text,de,de.text,fr.text\nhello,rec/hello.wav,Hello,rec/hallo.flac,Hallo,Salut\nbye,,Good bye,,"Tschüss, bis bald",Au revoir\nmenu,,Menu,,Menü,Menu\n' >prompts.csv
    $K build prompts.csv -d out 2>err
    grep -qx 'kestrune-adpcm: out/fr.bin: 3 IDs, 3 placeholders, [0-9]* bytes' err
    grep -q 'PROMPT_BYE = 1, /\* placeholder: en, de, fr \*/' out/prompts.h
    [ "$(jq -r '[.prompts[] | .placeholder] | @csv' out/de.json)" = 'false,true,true' ]
    read_image out/en.bin >/dev/null
    grep '#define PROMPT_ID_HASH' out/prompts.h >hash
    # menu moves to the top, bye goes, stop comes in between.
    printf 'name,en,en.text,de,de.text,fr.text\nmenu,,Menu,,Menü,Menu\nhello,rec/hello.wav,Hello,rec/hallo.flac,Hallo,Salut\nstop,,Stop,,Halt,Arrête\n' >prompts.csv
    $K build prompts.csv -d out 2>err
    grep -qx 'kestrune-adpcm: 6 of 9 encodings unchanged, taken from out/.kestrune-cache' err
    [ "$(grep -v '^#' prompts.lock)" = "$(printf '0 hello\n1 bye retired\n2 menu\n3 stop')" ]
    grep -q '/\* 1: bye, retired \*/' out/prompts.h
    grep '#define PROMPT_ID_HASH' out/prompts.h | cmp -s - hash && exit 1
    grep -q 'PROMPT_MENU = 2,' out/prompts.h
    for lang in en de fr; do
        read_image out/$lang.bin >ids
        [ "$(sed -n 2p ids)" = '1 16' ]  # the retired ID: an empty device file
        [ "$(jq -c '[.prompts[] | [.id, .name]]' out/$lang.json)" = '[[0,"hello"],[2,"menu"],[3,"stop"]]' ]
    done
    $K unpack out/de.bin -d back 2>/dev/null
    [ "$(ls back | wc -l)" = 4 ]
    mkdir clean
    cp -r rec prompts.csv prompts.lock clean/
    # Removing a prompt changes the table, and so its hash, though not the number of IDs.
    grep '#define PROMPT_ID_HASH' out/prompts.h >hash
    grep -v '^stop,' prompts.csv >less.csv && cp prompts.lock less.lock
    $K build --quiet less.csv -d less
    grep '#define PROMPT_ID_HASH' less/prompts.h | cmp -s - hash && exit 1
    (cd clean && $K build --quiet prompts.csv -d out)
    for f in en.bin de.bin fr.bin en.json prompts.h; do cmp out/$f clean/out/$f; done
}

# --check builds nothing and says why a tree is stale; a clean tree passes.
CheckStaleAndClean() {
    $M prompt.wav hi.wav frames=4000
    printf 'name,en,en.text\nhi,hi.wav,Hi\nyes,,Yes\n' >p.csv
    $K build --check p.csv -d out 2>err && exit 1
    grep -qx 'kestrune-adpcm: check: p.lock would change' err
    grep -qx 'kestrune-adpcm: check: out/en.bin is missing' err
    $K build --quiet p.csv -d out
    $K build --check p.csv -d out 2>err
    $K build --check --release p.csv -d out 2>err && exit 1
    grep -qx 'kestrune-adpcm: check: p.csv:3:5: en/yes is a placeholder (--release)' err
    $K build --no-placeholders p.csv -d out 2>err && exit 1
    grep -qx 'kestrune-adpcm: p.csv:3:5: en/yes has no recording (--no-placeholders)' err
    touch -d '+2 seconds' hi.wav
    $K build --check p.csv -d out 2>err && exit 1
    grep -qx 'kestrune-adpcm: check: out/en.bin is older than hi.wav' err
    printf 'name,en,en.text\nhi,hi.wav,Hi\nyes,,Yes please\n' >p.csv
    touch -d '-2 seconds' p.csv hi.wav
    $K build --check p.csv -d out 2>err && exit 1
    [ "$(cat err)" = 'kestrune-adpcm: check: en/yes: its sound, text or options changed' ]
    $K build --quiet --budget 5000 p.csv -d out
    $K build --check --budget 4000 p.csv -d out 2>err && exit 1
    grep -qx 'kestrune-adpcm: check: out/en.bin is over the budget of 4000 bytes' err
}

# A budget: the image fits it, the plan's worst loss is no more than one rate for all's; a
# budget no plan meets says the least that fits, which then fits.
BudgetPlan() {
    for i in 1 2 3; do $M prompt.wav r$i.wav frames=$((3000 * i)); done
    printf 'name,en,en.text\na,r1.wav,A\nb,r2.wav,B\nc,r3.wav,C\nd,,Four\n' >p.csv
    for budget in 9KiB 14000 20000; do
        $K build --budget $budget p.csv -d out 2>err
        bytes=$(stat -c %s out/en.bin)
        [ "$bytes" -le "$(numfmt --from=auto "${budget%B}")" ]
        [ "$(jq .length out/en.json)" = "$bytes" ]
        losses=$(sed -n 's/.*\(loss\|lose\) \([0-9.]*\) dB at worst, \([0-9.]*\) dB on average$/\2 \3/p' err)
        [ "$(wc -l <<<"$losses")" = 2 ]
        awk 'NR == 1 { w = $1 } NR == 2 { exit !(w <= $1) }' <<<"$losses"
    done
    $K build --budget 1000 p.csv -d out 2>err && exit 1
    least=$(sed -n 's/.*no plan fits the budget of 1000 bytes; the smallest that fits is \([0-9]*\) bytes$/\1/p' err)
    $K build --quiet --budget "$least" p.csv -d out
    [ "$(stat -c %s out/en.bin)" -le "$least" ]
    $K build --budget 1x p.csv -d out 2>err && exit 1
    grep -q "budget: '1x' is not a size" err
}

# Rows of "TEXT|WHERE: why" on standard input: with TEXT in FILE, building m.csv is refused
# with "kestrune-adpcm: FILE:WHERE: why", and nothing is built.
refusedRows() { # a helper, not a row
    while IFS='|' read -r text want; do
        printf "$text" >"$1"
        $K build m.csv -d out 2>err && exit 1
        [ "$(cat err)" = "kestrune-adpcm: $1:$want" ] || { cat err; echo "want $want"; exit 1; }
        [ ! -e out ]
    done
}

# A manifest's faults are told with the file, line and column, and nothing is built.
ManifestFaults() {
    refusedRows m.csv <<'ROWS'
name,en.text\nhi,"Hi\n|2:4: a quoted field is not closed
name,en.text\nhi,Hi"x\n|2:6: a quote inside a field that is not quoted
name,en.text\nh\xc3\xa9,"Hi"x\n|2:8: a quoted field must end at a comma or the line's end
name,en.text\nhi,Hi,x\n|2:7: 3 fields; the header has 2
name,en.text,colour\n|1:14: unknown column 'colour' (name, rate, bits, level, loudness, or a language code LANG or LANG.text)
name,en.text,en.text\n|1:14: column 'en.text' appears twice
name,en.text\n2go,Go\n|2:1: the name '2go' is not a C identifier that is free to take (letters, digits and '_', not starting with a digit or '_', not reserved)
name,en.text\nHi,Hi\nhi,Hi\n|3:1: the name 'hi' is taken on line 2
name,en.text\nhi,H\xe9\n|2:5: not UTF-8
name,en.text,rate\nhi,Hi,7000\n|2:7: --rate: '7000' is not a rate the device plays: 4000, 5300, 6400, 8000, 10600, 12800, 16000 or 32000 (Hz)
name,en,en.text\nhi,no.wav,Hi\n|2:4: the recording no.wav: cannot open: No such file or directory
name,en,en.text\nhi,,\n|2:4: en/hi has neither a recording nor a text
ROWS
}

# A lock file edited by hand into a fault is told with its line, and nothing is built: IDs
# given anew from a broken lock would move prompts under the firmware's feet.
LockFaults() {
    printf 'name,en.text\nhi,Hi\n' >m.csv
    refusedRows m.lock <<'ROWS'
0 hi extra\n|1: not 'ID NAME' or 'ID NAME retired'
x hi\n|1: not 'ID NAME' or 'ID NAME retired'
# kept\n1 a\n0 hi\n|3: ID 0 is not above the one before
65536 hi\n|1: ID 65536 is over 65535
0 hi\n1 hi retired\n|2: 'hi' has an ID already
ROWS
}

# The speech command runs without a shell: a text cannot run anything, and a template's
# words are the program's arguments as written.
SpeechWithoutShell() {
    printf '#!/bin/sh\n[ "$1" = "say it" ] && [ "$2" = de ] && exec cp "$4" "$3"\n' >speak
    chmod +x speak
    printf 'name,de.text\nx,"$(touch pwned); `touch pwned`"\n' >p.csv
    $K build --quiet --tts "./speak 'say it' {lang} {out} $PWD/prompt.wav" p.csv -d out
    [ ! -e pwned ]
    [ "$(jq '.prompts[0].placeholder' out/de.json)" = true ]
    $K build --quiet --report r.html p.csv -d espeak
    [ ! -e pwned ]
    [ "$(grep -o 'a placeholder, spoken from its text' r.html | wc -l)" = 1 ]
    $K build --tts 'false {out}' p.csv -d f 2>err && exit 1
    grep -qx 'kestrune-adpcm: de/x: its placeholder cannot be spoken: false failed (exit status 1)' err
    $K build --tts 'true {out}' p.csv -d f 2>err && exit 1
    grep -qx 'kestrune-adpcm: de/x: its placeholder cannot be spoken: true wrote nothing' err
    $K build --tts './none {out}' p.csv -d f 2>err && exit 1
    grep -qx "kestrune-adpcm: de/x: its placeholder cannot be spoken: cannot run ./none: No such file or directory" err
}
