# kestrune-adpcm's promises for many files at once: failures kept apart, descriptors,
# the progress line. batch_test runs each row as modern_tool_test runs its own: with bash in
# a fresh folder holding prompt.wav, under set -e, with $K the tool, $E and $D the legacy
# encoder and decoder, $M make-recording and $R the README.

# Bad files among good ones fail alone, each with its reason, and the same outputs come out
# for any -j; -n skips what exists.
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

# Under a low descriptor limit -j is lowered, said once (not under --quiet), and every file
# still comes out.
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
