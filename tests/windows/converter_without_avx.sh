#!/bin/sh
# Runs the i686 build's sample converter test under qemu-i386 emulating a processor without AVX
# (Westmere: SSE2 up to SSE4.2), where the converter must pick its SSE2 loops by itself: checks
# that it says so, that no AVX2 case runs, and that the SSE2 loops give the golden bytes. Needs
# the qemu-i386 route (TOLLVANE_I386_QEMU, see tools/qemu_i386.sh); where the i686 suite runs
# natively no processor model can be chosen, and the check is skipped (exit 77), saying why.
# usage: converter_without_avx.sh sample_converter_test.exe
if [ -z "${TOLLVANE_I386_QEMU:-}" ]; then
    echo "converter_without_avx: skipped: the i686 suite runs without qemu-i386 here, where no processor" \
        "model can be chosen; TOLLVANE_I386_VIA_QEMU=1 sh tools/check.sh takes that route"
    exit 77
fi
out=$(QEMU_CPU=Westmere sh "$(dirname "$0")/wine_run.sh" "$1" \
    --gtest_filter='sample_converter.creation_picks_*:*every_build_gives_the_same_bytes*' 2>&1)
status=$?
printf '%s\n' "$out"
[ $status -eq 0 ] || { echo "converter_without_avx: the test failed under QEMU_CPU=Westmere"; exit 1; }
echo "$out" | grep -q "picks sse2" || { echo "converter_without_avx: the converter did not pick SSE2"; exit 1; }
if echo "$out" | grep -q "/avx2"; then
    echo "converter_without_avx: AVX2 cases ran on a processor without AVX"
    exit 1
fi
echo "converter_without_avx: under QEMU_CPU=Westmere the converter picked SSE2 and gave the golden bytes"
