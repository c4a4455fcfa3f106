#!/bin/sh
# Installs what is missing, builds both targets and the zip a user downloads (checking that it
# holds the DLL tested here), and runs every test: the native suite, the same suite under Wine
# against the real Windows functions (i686, natively where this machine runs 32-bit code and
# under qemu-i386 where it does not; x86_64 everywhere), the native-versus-Windows output
# comparison, and the fuzz targets for a fixed number of inputs under AddressSanitizer and UBSan.
# Run as root on Debian 12. FUZZ_RUNS sets the inputs per fuzz target (each has its own default,
# about a minute here). TOLLVANE_I386_VIA_QEMU=1 runs the i686 build under qemu-i386 even where
# 32-bit code runs natively, and fails the check if that route cannot be set up.
set -e
src=$(cd "$(dirname "$0")/.." && pwd)
cd "$src"

tools/install_deps.sh all

# The product is the i686 DLL and is built everywhere. Its Windows suite runs natively where
# the 32-bit Wine loader starts, and where the kernel refuses 32-bit code under qemu-i386
# (tools/qemu_i386.sh); the same sources built for x86_64 run theirs under 64-bit Wine on every
# machine. Installs above stay outside that route.
# qemu-i386 runs a program up to ten times slower. This is the one place that says so: the
# builds whose tests run there are configured with it as TOLLVANE_TIMEOUT_SCALE, which scales
# every ctest time limit and reaches the Python scripts that start Windows programs through
# their tests' environment (tests/windows/wine_route.py).
qemu_slowdown=10
unset TOLLVANE_I386_QEMU
i686=native i686_why=
/usr/lib/wine/wine --version >/dev/null 2>&1 || case $? in
126) i686=qemu i686_why="this machine cannot run 32-bit code" ;;
127) i686=none i686_why="32-bit Wine is not installed" ;;
*) i686=none i686_why="the 32-bit Wine loader does not start" ;;
esac
forced=
[ "${TOLLVANE_I386_VIA_QEMU:-}" = 1 ] && i686=qemu forced=" (TOLLVANE_I386_VIA_QEMU=1)"
if [ $i686 = qemu ]; then
    echo "== i686 route: qemu-i386$forced"
    if { route_why=$(sh tools/qemu_i386.sh build-win/qemu 2>&1 1>&3); } 3>&1; then
        export TOLLVANE_I386_QEMU="$src/build-win/qemu/qemu-i386"
    elif [ -n "$forced" ]; then
        echo "check: TOLLVANE_I386_VIA_QEMU=1, but the qemu-i386 route cannot be set up: ${route_why#qemu-i386: }"
        exit 1
    else
        echo "$route_why"
        i686=none i686_why="$i686_why, and the qemu-i386 route cannot start: ${route_why#qemu-i386: }"
    fi
fi
scale=1
[ $i686 = qemu ] && scale=$qemu_slowdown
echo "== Windows build, i686 (the product)"
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE="$src/cmake/i686-w64-mingw32.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DTOLLVANE_TIMEOUT_SCALE=$scale >/dev/null
cmake --build build-win -j2
# What a user downloads must hold this very file, which the i686 suite below tests; nothing
# after this point builds it again.
echo "== the download"
sh tools/package.sh
python3 tools/package_zip.py check build-win/out_tollvane.dll
echo "== Windows build, x86_64 (tests only)"
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE="$src/cmake/x86_64-w64-mingw32.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win64 -j2
# The native comparisons run against the product where it runs, else against the x86_64 build.
if [ $i686 = none ]; then compared=build-win64 scale=1; else compared=build-win; fi
echo "== native build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLLVANE_WINDOWS_BUILD="$src/$compared" \
    -DTOLLVANE_TIMEOUT_SCALE=$scale >/dev/null
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
case $i686 in
native)
    echo "== Windows tests under Wine, i686"
    stage ctest --test-dir build-win -j2 --output-on-failure
    suites="Windows suites run: i686 and x86_64; native comparisons against i686"
    no_avx="skipped: 32-bit code runs natively here, where no processor model can be chosen;"
    no_avx="$no_avx TOLLVANE_I386_VIA_QEMU=1 runs it"
    ;;
qemu)
    echo "== Windows tests under Wine through qemu-i386, i686"
    stage ctest --test-dir build-win -j2 --output-on-failure
    suites="Windows suites run: i686 (under qemu-i386) and x86_64; native comparisons against i686 (under qemu-i386)"
    no_avx="run under qemu-i386 (ctest converter_without_avx)"
    ;;
none)
    echo "== i686 Windows build, the checks that need no Wine ($i686_why)"
    stage ctest --test-dir build-win -L no_wine --output-on-failure
    suites="Windows suites run: x86_64 only; i686 not run: $i686_why; native comparisons against x86_64"
    no_avx="skipped: the i686 suite does not run here"
    ;;
esac
# The product's converter on a processor without AVX, which must pick SSE2 by itself.
suites="$suites
i686 converter on a processor without AVX (QEMU_CPU=Westmere): $no_avx"
echo "== Windows tests under 64-bit Wine, x86_64"
stage ctest --test-dir build-win64 -j2 --output-on-failure
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
    cue_sheet_fuzz) runs=150000 ;;
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
