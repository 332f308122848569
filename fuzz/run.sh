#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   fuzz/run.sh [seconds per fuzzer, default 60] [fuzzer names...]
# Each run starts from the seed corpus in fuzz/corpus/<name>; new inputs go to a scratch
# copy, crashes to fuzz/artifacts/. Exits non-zero if any fuzzer fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
names=("$@")
[ ${#names[@]} -gt 0 ] || names=(wave_reader conversion decoder codec audio listening_page pack build_manifest)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DKESTRUNE_FUZZ=ON -DKESTRUNE_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j2 >/dev/null

mkdir -p fuzz/artifacts
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for name in "${names[@]}"; do
  mkdir -p "$scratch/$name"
  cp fuzz/corpus/"$name"/* "$scratch/$name/"
  log="$scratch/$name.log"
  if LSAN_OPTIONS=suppressions=fuzz/lsan-suppressions.txt:print_suppressions=0 \
     ./build-fuzz/fuzz/fuzz_"$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix=fuzz/artifacts/"$name"- "$scratch/$name" >"$log" 2>&1; then
    echo "fuzz_$name: $(grep -E '^#[0-9]+.*DONE' "$log" | tail -n 1)"
  else
    echo "fuzz_$name: FAILED"
    tail -n 40 "$log"
    status=1
  fi
done
exit $status
