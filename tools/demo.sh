#!/bin/sh
# Builds tollvane-play natively and plays a generated demo track through the plug-in, which
# leaves tollvane-demo.wav in the current directory. Run as root on Debian 12 (installs what
# is missing).
set -e
here=$(pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
"$src/tools/install_deps.sh" native
cmake -S "$src" -B "$src/build-demo" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTS=OFF -DBUILD_BENCH=OFF >/dev/null
cmake --build "$src/build-demo" -j2 --target tollvane-play >/dev/null
mkdir -p "$src/build-demo/demo"
python3 "$src/tools/make_demo_track.py" "$src/build-demo/demo/input.wav"
# The plug-in's default output directory, c:\, is the current directory in the native build.
cd "$here"
"$src/build-demo/tollvane-play" --yes --title tollvane-demo "$src/build-demo/demo/input.wav"
echo "wrote $here/tollvane-demo.wav"
