#!/bin/sh
# Installs what is missing, builds both targets and runs every test: the native suite, the
# same suite under Wine against the real Windows functions (i686 where this machine runs 32-bit
# code, x86_64 everywhere), the native-versus-Windows output comparison, and the fuzz targets
# for a fixed number of inputs under AddressSanitizer and UBSan.
# Run as root on Debian 12. FUZZ_RUNS sets the inputs per fuzz target (each has its own default,
# about a minute here).
set -e
src=$(cd "$(dirname "$0")/.." && pwd)
cd "$src"

tools/install_deps.sh all

# The product is the i686 DLL and is built everywhere. Its Windows suite runs where the 32-bit
# Wine loader starts; the same sources built for x86_64 run theirs under 64-bit Wine on every
# machine, since some machines here boot with 32-bit code switched off.
echo "== Windows build, i686 (the product)"
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE="$src/cmake/i686-w64-mingw32.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win -j2
echo "== Windows build, x86_64 (tests only)"
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE="$src/cmake/x86_64-w64-mingw32.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win64 -j2
win32=yes win32_why=
/usr/lib/wine/wine --version >/dev/null 2>&1 || {
    case $? in
    126) win32_why="this machine cannot run 32-bit code" ;;
    127) win32_why="32-bit Wine is not installed" ;;
    *) win32_why="the 32-bit Wine loader does not start" ;;
    esac
    win32=no
}
# The native comparisons run against the product where it runs, else against the x86_64 build.
if [ $win32 = yes ]; then compared=build-win; else compared=build-win64; fi
echo "== native build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLLVANE_WINDOWS_BUILD="$src/$compared" >/dev/null
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
if [ $win32 = yes ]; then
    echo "== Windows tests under Wine, i686"
    stage ctest --test-dir build-win -j2 --output-on-failure
else
    echo "== i686 Windows build, the checks that need no Wine ($win32_why)"
    stage ctest --test-dir build-win -L no_wine --output-on-failure
fi
echo "== Windows tests under 64-bit Wine, x86_64"
stage ctest --test-dir build-win64 -j2 --output-on-failure
if [ $win32 = yes ]; then
    suites="Windows suites run: i686 and x86_64; native comparisons against i686"
else
    suites="Windows suites run: x86_64 only; i686 not run: $win32_why; native comparisons against x86_64"
fi
echo "$suites"
echo "== native tests under AddressSanitizer and UBSan"
stage ctest --test-dir build-fuzz -j2 --output-on-failure
# A fixed seed and a fixed number of inputs alone do not repeat a run: libFuzzer feeds the
# values of compared pointers back into its mutations. So address randomisation is switched off
# where the machine allows it, and every fuzzer runs from the same path with the same
# environment and arguments, which place the stack and name its files. Then one commit, built
# in a checkout at the same path (source paths end up in the binary), fuzzes alike on every
# machine, and a CI failure replays locally.
no_aslr=
if setarch "$(uname -m)" -R true 2>/dev/null; then no_aslr="setarch $(uname -m) -R"; fi
# That fixed folder is the same for every checkout on the machine: a second check waits here
# until the first has fuzzed, instead of deleting the folder under it.
exec 9>/tmp/tollvane-fuzz.lock
flock 9
echo "== fuzzing${FUZZ_RUNS:+, $FUZZ_RUNS inputs per target}${no_aslr:+, address randomisation off}"
for target in build-fuzz/tests/fuzz/*_fuzz; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    case $name in
    codec_stage_fuzz) runs=6000 ;;
    sample_converter_fuzz) runs=150000 ;;
    settings_store_fuzz) runs=30000 ;;
    single_file_fuzz) runs=600000 ;;
    wav_reader_fuzz) runs=150000 ;;
    *) runs=60000 ;;
    esac
    runs=${FUZZ_RUNS:-$runs}
    dir=/tmp/tollvane-fuzz
    corpus=corpus-$name
    rm -rf "$dir" && mkdir -p "$dir/$corpus"
    cp "$target" "$dir/"
    cp tests/fuzz/corpus/"$name"/* "$dir/$corpus"/ 2>/dev/null || true
    if (cd "$dir" && env -i PATH=/usr/bin:/bin $no_aslr ./"$name" -seed=1 -runs="$runs" -reload=0 \
        -rss_limit_mb=2048 "$corpus" >"$corpus.log" 2>&1); then
        echo "$name: $(grep -a '^#[0-9]' "$dir/$corpus.log" | tail -n 1)"
        passed=$((passed + 1))
    else
        echo "$name: FAILED"; tail -n 40 "$dir/$corpus.log"
        failed=$((failed + 1))
    fi
    rm -rf "$dir"
done
echo "$suites"
echo "check: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
