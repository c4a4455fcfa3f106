#!/bin/sh
# Installs what is missing, builds both targets and runs every test: the native suite, the
# same suite under Wine against the real Windows functions, the native-versus-Windows output
# comparison, and the fuzz targets for a bounded time under AddressSanitizer and UBSan.
# Run as root on Debian 12. FUZZ_SECONDS sets the time per fuzz target (default 60); the fuzzers
# start from a fixed seed so that one commit fuzzes alike in every run.
set -e
src=$(cd "$(dirname "$0")/.." && pwd)
cd "$src"
fuzz_seconds=${FUZZ_SECONDS:-60}

tools/install_deps.sh all

echo "== Windows build (i686 mingw-w64)"
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE="$src/cmake/i686-w64-mingw32.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win -j2
echo "== native build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLLVANE_WINDOWS_BUILD="$src/build-win" >/dev/null
cmake --build build -j2
echo "== sanitized build with fuzz targets (clang)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_FUZZERS=ON -DSANITIZE=ON \
    -DBUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j2

passed=0
failed=0
stage() { if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi; }
echo "== native tests"
stage ctest --test-dir build -j2 --output-on-failure
echo "== Windows tests under Wine"
stage ctest --test-dir build-win -j2 --output-on-failure
echo "== native tests under AddressSanitizer and UBSan"
stage ctest --test-dir build-fuzz -j2 --output-on-failure
echo "== fuzzing, $fuzz_seconds s per target"
for target in build-fuzz/tests/fuzz/*_fuzz; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus=$(mktemp -d)
    cp tests/fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true
    if (cd "$(dirname "$target")" && ./"$name" -seed=1 -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 "$corpus" \
        >"$corpus.log" 2>&1); then
        echo "$name: $(tail -n 1 "$corpus.log")"
        passed=$((passed + 1))
    else
        echo "$name: FAILED"; tail -n 40 "$corpus.log"
        failed=$((failed + 1))
    fi
    rm -rf "$corpus" "$corpus.log"
done
echo "check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
