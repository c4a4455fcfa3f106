# Sourced: use_wine_for FILE sets $wine to the Wine loader that runs the Windows program FILE
# and exports the WINEARCH its prefix needs, both read from the machine field of FILE's PE
# header. Debian's `wine` wrapper cannot be trusted with this: it picks the 32-bit loader
# whenever that is installed, also on machines whose kernel refuses to run 32-bit code.
# With TOLLVANE_I386_QEMU naming a qemu-i386, an i686 program's loader and every 32-bit program
# it starts run under that emulator (i386_route.sh); run_wine ARGUMENT... starts $wine so.
use_wine_for() {
    pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    signature=$(od -An -tx1 -j"${pe:-0}" -N4 "$1" 2>/dev/null | tr -d ' ')
    machine=$(od -An -tx2 -j$((${pe:-0} + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
    [ "$signature" = 50450000 ] || machine=none
    wine_qemu=
    case $machine in
    014c) wine=/usr/lib/wine/wine WINEARCH=win32 wine_qemu=${TOLLVANE_I386_QEMU:-} ;;
    8664) wine=/usr/lib/wine/wine64 WINEARCH=win64 ;;
    *)
        echo "$1: not a Windows program for i386 or x86_64" >&2
        return 1
        ;;
    esac
    export WINEARCH
}
wine_route=$(dirname "$0")/i386_route.sh
run_wine() {
    if [ -n "$wine_qemu" ]; then
        sh "$wine_route" "$wine_qemu" "$wine" "$@"
    else
        "$wine" "$@"
    fi
}
