#!/bin/sh
# Installs what building and testing need on a Debian 12 machine, and only what is missing.
# "native" installs what the native build and the demo need; "dll" what the product DLL and its
# zip need (tools/package.sh); "all" (the default) adds to "native" the Windows cross-compilers,
# Wine, clang's fuzzing runtime and the benchmark's anchor libraries. "bench" is what both
# benchmarks need and no check does: the anchor libraries and ffmpeg, the end-to-end benchmark's
# second peer.
# Runs as root (apt-get); does nothing when every package is already there.
set -e
native="cmake g++ make googletest libgtest-dev python3 sox sndfile-programs binutils-mingw-w64-i686"
dll="cmake make googletest python3 g++-mingw-w64-i686"
all="$native clang libclang-rt-14-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix wine wine32:i386 wine64 xvfb xauth fonts-wine
     libsamplerate0-dev libsoxr-dev libspeexdsp-dev pkg-config imagemagick"
bench="$native libsamplerate0-dev libsoxr-dev libspeexdsp-dev pkg-config ffmpeg"
case "${1:-all}" in
native) pkgs=$native ;;
dll) pkgs=$dll ;;
all) pkgs=$all ;;
bench) pkgs=$bench ;;
*) echo "usage: install_deps.sh [native|dll|all|bench]" >&2; exit 2 ;;
esac
missing=""
for p in $pkgs; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing" >&2
case "$missing" in *:i386*) dpkg --add-architecture i386 ;; esac
apt-get update -q >/dev/null
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing >/dev/null
