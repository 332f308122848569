#!/usr/bin/env bash
# The installed library as someone else's program meets it, static and shared: only its
# public names exported, found by its CMake package (the C and the C++ example) and by
# pkg-config (the C example), each writing what kestrune-adpcm writes.
#   installedLibrary.sh SOURCE BUILD TOOL    (BUILD: a build of the static library)
set -euo pipefail
trap 'echo "failed at line $LINENO: $BASH_COMMAND" >&2' ERR
src=$1 build=$2 tool=$3
p=$(mktemp -d)
trap 'rm -rf "$p"' EXIT
prompt=$src/examples/prompt.wav
"$tool" encode --quiet -b 2 "$prompt" -o "$p/k.adp"
"$tool" decode --quiet "$p/k.adp" -o "$p/k.wav"
version=$("$tool" --version | cut -d' ' -f2)
cmake -S "$src" -B "$p/shared-build" -DBUILD_SHARED_LIBS=ON -DKESTRUNE_TESTS=OFF \
    -DKESTRUNE_BENCHMARKS=OFF >/dev/null
cmake --build "$p/shared-build" --target kestrune -j2 >/dev/null
for kind in static shared; do
    b=$build names="nm -g" pc="pkg-config --static"
    [ $kind = shared ] && b=$p/shared-build names="nm -D" pc="pkg-config"
    cmake --install "$b" --prefix "$p/$kind" --component library >/dev/null
    lib=$(find "$p/$kind" -name 'libkestrune.*' -type f | head -1)
    if $names --defined-only "$lib" | awk '$2 !~ /[WVu]/ && NF == 3 { print $3 }' | c++filt |
        sed 's/^kestrune::detail::/internal /' | grep -v '^kestrune\(_\|::\)'; then
        echo "$kind: names exported that are not the library's public ones"
        exit 1
    fi
    cmake -S "$src/tests/consumer" -B "$p/$kind-b" -DCMAKE_PREFIX_PATH="$p/$kind" \
        -DEXAMPLES="$src/examples" >/dev/null
    cmake --build "$p/$kind-b" >/dev/null
    cc "$src/examples/encode-wav.c" -o "$p/$kind-c" \
        $(PKG_CONFIG_PATH=$(dirname "$(find "$p/$kind" -name kestrune.pc)") $pc --cflags --libs kestrune)
    export LD_LIBRARY_PATH=$(dirname "$lib")
    if [ $kind = shared ]; then
        # Read whole before grep: a grep -q that stops early can leave its writer killed by
        # SIGPIPE, which pipefail takes for a failure.
        readelf -d "$lib" >"$p/dynamic"
        grep -q 'SONAME.*\[libkestrune\.so\.1\]' "$p/dynamic"
        ldd "$p/$kind-c" >"$p/linked"
        grep -q "libkestrune.so.1 => $p/shared" "$p/linked"
    fi
    "$p/$kind-b/encode-wav" "$prompt" "$p/a.adp" 2
    "$p/$kind-c" "$prompt" "$p/c.adp" 2
    cmp "$p/a.adp" "$p/k.adp"
    cmp "$p/c.adp" "$p/k.adp"
    "$p/$kind-b/play-adp" "$p/k.adp" >"$p/play.raw" 2>"$p/said"
    tail -c +45 "$p/k.wav" | cmp - "$p/play.raw"
    grep -qx "kestrune $version: 2-bit, 16000 Hz" "$p/said"
done
