#!/bin/sh
# Takes pictures of the DLL's configuration dialog and of the file options dialog it opens, under
# Xvfb, drawn by Wine in a virtual desktop, and checks that they are not blank.
# usage: dialog_screenshot.sh SHOT_EXE DLL PREFIX CONFIG.png OPTIONS.png
# PREFIX is a Wine prefix of its own (made on first use): the tests' prefix has no display.
set -e
shot_exe=$1 dll=$2 prefix=$3 config_out=$4 options_out=$5
export WINEPREFIX=$prefix WINEDEBUG=-all
for tool in xvfb-run import identify wineserver; do
    command -v $tool >/dev/null || { echo "dialog_screenshot: $tool is missing (tools/install_deps.sh)" >&2; exit 1; }
done
. "$(dirname "$0")/wine_loader.sh"
use_wine_for "$shot_exe"
run=$(dirname "$0")/wine_run.sh
# The dialog shows within 20 s here, and up to ten times later under qemu-i386.
waits=200
[ -n "$wine_qemu" ] && waits=2000
export run waits
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    run_wine wineboot -i </dev/null >/dev/null 2>&1
    run_wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
    run_wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
    run_wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 640x400 /f </dev/null >/dev/null 2>&1
    ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    wineserver -k </dev/null >/dev/null 2>&1 || true
    wineserver -w </dev/null >/dev/null 2>&1 || true
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One picture: OUT.png, then the dialog program's own arguments after the DLL.
# Inside the X session: start the dialog, wait for its marker, photograph the dialog's
# rectangle, let it close, and stop the wineserver before the X server goes away.
shoot() {
    out=$1
    shift
    rm -f "$work/marker" "$work/done"
    xvfb-run -a -s '-screen 0 800x600x24' sh -c '
        sh "$run" "$1" "$2" "$3/marker" "$3/done" $5 </dev/null >/dev/null 2>&1 &
        wine_pid=$!
        tries=0
        while [ ! -s "$3/marker" ] && [ $tries -lt $waits ]; do sleep 0.1; tries=$((tries + 1)); done
        status=1
        if [ -s "$3/marker" ]; then
            read x y w h < "$3/marker"
            import -window root -crop "${w}x${h}+${x}+${y}" +repage "$4" && status=0
        fi
        touch "$3/done"
        wait $wine_pid || status=1
        wineserver -k </dev/null >/dev/null 2>&1 || true
        exit $status
    ' sh "$shot_exe" "$dll" "$work" "$out" "$@"
    # A blank or one-colour picture means nothing was drawn.
    colours=$(identify -format '%k' "$out")
    size=$(identify -format '%wx%h' "$out")
    echo "dialog_screenshot: $out, $size, $colours colours"
    [ "$colours" -gt 8 ]
}
shoot "$config_out"
shoot "$options_out" options
