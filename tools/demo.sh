#!/bin/sh
# Shows what the plug-in is for: builds tollvane-play natively, generates a three-track playlist
# and plays it through the plug-in once per pass below, each pass with its own settings, then
# prints a table of every file written. Everything goes to tollvane-demo/ in the current
# directory, emptied first. Run as root on Debian 12 (installs what is missing).
set -e
src=$(cd "$(dirname "$0")/.." && pwd)
build=$src/build-demo
out=tollvane-demo

"$src/tools/install_deps.sh" native
echo "building tollvane-play (half a minute the first time)"
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTS=OFF -DBUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target tollvane-play wav-frames >/dev/null

rm -rf "$out"
python3 "$src/tools/demo_playlist.py" "$out/playlist"
folders=playlist
echo
echo "Tollvane writes what a player plays to disk. Playing $out/playlist/ through it:"

# pass FOLDER WHAT [INI LINE...]: plays the playlist, all tracks in one run as a player would
# (each at its own playlist position), with these settings in the INI file beside
# tollvane-play; per-track files go to $out/FOLDER, and the settings stay in $out/FOLDER.ini.
pass() {
    folder=$1
    printf '  %-56s -> %s\n' "$2" "$out/$folder/"
    shift 2
    mkdir -p "$out/$folder"
    {
        echo "[WAV Writing Output Driver]"
        echo "config_waveoutdir=$out/$folder"
        for line in "$@"; do echo "$line"; done
    } >"$out/$folder.ini"
    cp "$out/$folder.ini" "$build/tollvane-play.ini"
    # Its messages come after the run, so a terminal shows no progress lines between these.
    status=0
    "$build/tollvane-play" "$out"/playlist/*.wav </dev/null 2>"$build/demo-messages.txt" || status=$?
    cat "$build/demo-messages.txt" >&2
    [ "$status" -eq 0 ] || exit "$status"
    folders="$folders $folder"
}

# cfg_wfx is a WAVEFORMATEX in hex (tag, channels, rate, bytes a second, block align, bits,
# extra bytes and the codec's own), then the sum of those bytes modulo 256.
pass wav-48k "per-track WAV files, converted to 48000 Hz 16-bit stereo" \
    cfg_cvt=1 cfg_wfx_s=18 cfg_wfx=0100020080BB000000EE020004001000000042
pass ima-adpcm "per-track IMA ADPCM files, 44100 Hz 4-bit stereo" \
    cfg_cvt=1 cfg_wfx_s=20 cfg_wfx=1100020044AC0000DBAC0000000804000200F90798
pass numbered "per-track WAV files, numbered, title and number inside" \
    'cfg_name="%pos%. %title%"' cfg_info=1
pass single-file "every track appended to one WAV file" \
    cfg_wav1=1 "cfg_wav1p=$out/single-file/Lowmoor - Crossings.wav"

echo
cd "$out"
python3 "$src/tools/demo_table.py" "$build/wav-frames" $folders
echo "Settings of each pass: $out/FOLDER.ini"
