#!/bin/sh
# Fuzzes for a fixed time per target rather than check.sh's fixed number of inputs: a longer
# search by hand, not part of CI. Builds the sanitized fuzz targets (build-fuzz, clang) as
# check.sh does, then runs each target, or those named, for FUZZ_SECONDS (default 600) from
# its saved corpus. What a run adds to the corpus and any crashing input stay in
# build-fuzz/fuzz-runs/TARGET/.
# usage: [FUZZ_SECONDS=600] sh tools/fuzz.sh [TARGET...]
set -e
src=$(cd "$(dirname "$0")/.." && pwd)
cd "$src"
seconds=${FUZZ_SECONDS:-600}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_FUZZERS=ON -DSANITIZE=ON \
    -DBUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j2 >/dev/null

if [ $# -eq 0 ]; then
    set --
    for target in build-fuzz/tests/fuzz/*_fuzz; do [ -x "$target" ] && set -- "$@" "$(basename "$target")"; done
fi
echo "fuzzing $# targets for $seconds s each: $*"
failed=0
for name in "$@"; do
    target=$src/build-fuzz/tests/fuzz/$name
    if [ ! -x "$target" ]; then
        echo "$name: no such fuzz target in build-fuzz/tests/fuzz"
        failed=$((failed + 1))
        continue
    fi
    # The saved corpus seeds the run and is never written to; the run's own folder keeps what
    # it found, so that a second run goes on from there.
    run=$src/build-fuzz/fuzz-runs/$name
    mkdir -p "$run/corpus"
    cp tests/fuzz/corpus/"$name"/* "$run/corpus"/ 2>/dev/null || true
    if (cd "$run" && "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -artifact_prefix="$run/" corpus \
        >fuzz.log 2>&1); then
        echo "$name: $(grep -a '^#[0-9]' "$run/fuzz.log" | tail -n 1)"
    else
        echo "$name: FAILED, input kept in $run/ (replay: $target FILE)"
        tail -n 40 "$run/fuzz.log"
        failed=$((failed + 1))
    fi
done
echo "fuzz: $(($# - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
