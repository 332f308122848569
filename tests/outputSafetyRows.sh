# The output's promises against hostile and unlucky surroundings: links, descriptors,
# signals, limits, owners, long names and moving folders. output_safety_test runs each
# row with bash under set -eu in a fresh folder holding in.wav and the outputs the legacy
# tools make of it the plain way (ref.adp, ref.wav), with $E and $D the encoder and
# decoder. A row holds when its function returns 0; no row may leave a temporary file.

DONE='CONVERT FINISHED!!'
OPEN='OUTPUT FILE OPEN ERROR!!!!'
# Waits up to 5 s for a temporary file to appear in folder $1.
waittemp() { for i in $(seq 500); do ls -A "$1" | grep -q '^\.kestrune-' && return 0; sleep 0.01; done; return 1; }
# There is no temporary file in folder $1.
notemp() { ! ls -A "$1" | grep -q '^\.kestrune-'; }

DanglingLinkGetsItsTargetCreated() {
    ln -s sub/t.adp d
    [ "$($E in.wav d 4ADP2)" = "$OPEN" ]
    [ -L d ]
    mkdir sub
    $E in.wav d 4ADP2 >/dev/null
    [ -L d ]
    cmp sub/t.adp ref.adp
}

LinkLoopIsRefused() {
    ln -s l1 l2
    ln -s l2 l1
    [ "$($E in.wav l1 4ADP2)" = "$OPEN" ]
    [ -L l1 ]
}

LinkToADeletedStandardOutput() {
    ln -s /proc/self/fd/1 so
    exec 3>f
    rm f
    $E in.wav so 4ADP2 >&3 2>msg
    [ -L so ]
    cmp /proc/$$/fd/3 ref.adp
    [ "$(cat msg)" = "$DONE" ]
}

StandardOutputIsAppendedTo() {
    echo old >log
    cat in.wav | $E /dev/stdin /dev/stdout 4ADP2 >>log 2>msg
    (echo old; cat ref.adp) | cmp - log
    [ "$(cat msg)" = "$DONE" ]
}

PipesAndFifosGiveWhatFilesGive() {
    mkfifo f
    cat f >piped &
    cat in.wav | $E /dev/stdin f 4ADP2 >msg
    wait
    cmp piped ref.adp
    [ "$(cat msg)" = "$DONE" ]
    cat ref.adp | $D /dev/stdin d.wav >/dev/null
    cmp d.wav ref.wav
}

StandardOutputThroughAPipeIsExact() {
    $E in.wav /dev/stdout 4ADP2 2>/dev/null | cat >x
    cmp x ref.adp
    $D ref.adp /proc/self/fd/1 2>/dev/null | cat >y
    cmp y ref.wav
}

OtherDescriptorKeepsTheStatusLineOnStandardOutput() {
    $E in.wav /dev/fd/3 4ADP2 3>x >msg
    cmp x ref.adp
    [ "$(cat msg)" = "$DONE" ]
}

SameDeviceInAndOutIsRefused() {
    cp in.wav keep
    [ "$($E in.wav /dev/fd/3 4ADP2 3<>in.wav)" = "$OPEN" ]
    cmp keep in.wav
    node nul 1 3
    node zero 1 5
    [ "$($E nul nul 4ADP2)" = "$OPEN" ]
    [ "$($D zero zero)" = "$OPEN" ]
    [ "$($E /dev/null nul 4ADP2)" = "$OPEN" ]
    [ -c nul ] && [ -c zero ]
}

LongestNameWorks() {
    n=$(printf 'n%.0s' $(seq 255))
    $E in.wav $n 4ADP2 >/dev/null
    cmp $n ref.adp
}

DescriptorsOfEveryNumber() {
    for n in 3 4 5 6 7 8 9 10 12; do
        eval "\$E in.wav /dev/fd/$n 4ADP2 $n>x >/dev/null"
        cmp x ref.adp
        eval "\$E in.wav /proc/self/fd/$n 4ADP2 $n>>y >/dev/null"
        cmp y ref.adp
        rm y
    done
}

# Only root may give a file away: as root it keeps its owner; a user who may write it
# keeps at least its group, when a member of it.
ReplacedFileKeepsItsModeButNotSetIdBitsAndItsOwner() {
    echo old >o
    chmod 6751 o
    $E in.wav o 4ADP2 >/dev/null
    [ $(stat -c %a o) = 751 ]
    [ $(id -u) = 0 ] || exit 0
    chown 65534:65534 o
    $E in.wav o 4ADP2 >/dev/null
    [ "$(stat -c '%u:%g %a' o)" = '65534:65534 751' ]
    mkdir -m 777 g
    echo old >g/o
    chown 0:100 g/o
    chmod 664 g/o
    setpriv --reuid=65534 --regid=65534 --groups=100 $E in.wav g/o 4ADP2 >/dev/null
    [ "$(stat -c '%u:%g %a' g/o)" = '65534:100 664' ]
}

OutputThatIsTheInputIsRefused() {
    cp in.wav keep
    ln -s in.wav soft
    ln in.wav hard
    for o in in.wav soft hard ./in.wav; do
        [ "$($E in.wav $o 4ADP2)" = "$OPEN" ]
        [ "$($D in.wav $o)" = "$OPEN" ]
    done
    cmp keep in.wav
}

# As a user (root runs it as nobody): a read-only file or folder is refused, a folder
# that may be written but not listed is written.
PermissionsAreRespected() {
    echo old >o
    chmod 444 o
    mkdir -m 555 locked
    mkdir -m 333 blind
    n() { if [ $(id -u) = 0 ]; then setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; else "$@"; fi; }
    [ "$(n $E in.wav o 4ADP2)" = "$OPEN" ]
    [ "$(n $E in.wav locked/o 4ADP2)" = "$OPEN" ]
    [ "$(cat o)" = old ]
    [ -z "$(ls -A locked)" ]
    [ "$(n $E in.wav blind/o 4ADP2)" = "$DONE" ]
    cmp blind/o ref.adp
    chmod 755 blind
}

FileSizeLimitIsAWriteError() {
    echo old >o
    (ulimit -f 4; $E in.wav o 4ADP2 >msg || echo $? >rc)
    [ "$(cat msg)" = 'Write error!' ]
    [ $(cat rc) = 1 ]
    [ "$(cat o)" = old ]
}

# A run stalled on its input, killed by each signal that ends a process: no temporary
# file, the old output kept. Job control keeps INT and QUIT at their defaults.
EverySignalRemovesTheTemporaryFile() {
    set -m
    mkfifo f
    echo old >o
    for s in HUP INT QUIT TERM ALRM USR1 USR2 PIPE VTALRM PROF XCPU RTMIN; do
        $E f o 4ADP2 >/dev/null &
        pid=$!
        exec 7>f
        head -c 3000 in.wav >&7
        waittemp .
        kill -$s $pid
        wait $pid && exit 1
        exec 7>&-
        notemp .
        [ "$(cat o)" = old ]
    done
}

IgnoredSignalsStayIgnored() {
    mkfifo f
    trap '' HUP INT
    $E f o 4ADP2 >msg &
    pid=$!
    exec 7>f
    head -c 3000 in.wav >&7
    waittemp .
    kill -HUP $pid
    kill -INT $pid
    kill -XFSZ $pid
    tail -c +3001 in.wav >&7
    exec 7>&-
    wait $pid
    cmp o ref.adp
}

MovedFolderTakesItsTemporaryFileAlong() {
    mkfifo f
    mkdir a
    $E f a/o 4ADP2 >/dev/null &
    pid=$!
    exec 7>f
    head -c 3000 in.wav >&7
    waittemp a
    mv a b
    kill -TERM $pid
    wait $pid && exit 1
    notemp b
    mkdir c
    $E f c/o 4ADP2 >/dev/null &
    pid=$!
    exec 7>f
    head -c 3000 in.wav >&7
    waittemp c
    mv c d
    tail -c +3001 in.wav >&7
    exec 7>&-
    wait $pid
    cmp d/o ref.adp
}
