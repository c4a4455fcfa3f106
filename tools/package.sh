#!/bin/sh
# Makes what a Windows user downloads: builds the product, the i686 DLL, in build-win as
# check.sh does, and zips it with a short read-me into dist/tollvane-VERSION-x86.zip
# (tools/package_zip.py). Run as root on Debian 12 (installs what is missing).
# usage: sh tools/package.sh
set -e
src=$(cd "$(dirname "$0")/.." && pwd)
cd "$src"

tools/install_deps.sh dll
echo "building out_tollvane.dll (i686) in build-win"
# The same configuration as check.sh's, so that either reuses the other's build.
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE="$src/cmake/i686-w64-mingw32.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win -j2 --target out_tollvane >/dev/null
python3 tools/package_zip.py make build-win/out_tollvane.dll
