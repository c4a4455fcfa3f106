#!/bin/sh
# Builds tollvane-play natively and plays a generated demo track through the plug-in, which
# leaves tollvane-demo.wav in the current directory. Run as root on Debian 12 (installs what
# is missing).
set -e
here=$(pwd)
src=$(cd "$(dirname "$0")/.." && pwd)
"$src/tools/install_deps.sh" native
cmake -S "$src" -B "$src/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$src/build" -j2 --target tollvane-play >/dev/null
mkdir -p "$src/build/demo"
python3 "$src/tools/make_demo_track.py" "$src/build/demo/input.wav"
# The plug-in's default output directory, c:\, is the current directory in the native build.
cd "$here"
"$src/build/tollvane-play" --yes --title tollvane-demo "$src/build/demo/input.wav"
echo "wrote $here/tollvane-demo.wav"
