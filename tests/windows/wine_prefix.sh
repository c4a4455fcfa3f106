#!/bin/sh
# Makes and warms up the Wine prefix the Windows tests run in (up), or stops its server (down).
# The prefix is headless (null window driver), shows no crash dialog, and has Wine's fonts. Its
# width, and the loader that makes it, follow PROGRAM, any Windows program of the build.
# Redirections matter: a persistent wineserver started with a pipe on its stdout holds the pipe.
# usage: wine_prefix.sh up PREFIX PROGRAM | down PREFIX
set -e
action=$1
export WINEPREFIX=$2 WINEDEBUG=-all
case "$action" in
up)
    . "$(dirname "$0")/wine_loader.sh"
    use_wine_for "$3"
    if ! run_wine --version >/dev/null 2>&1; then
        echo "wine_prefix: $wine does not start on this machine${wine_qemu:+ under $wine_qemu} (the program is $WINEARCH)" >&2
        exit 1
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        run_wine wineboot -i </dev/null >/dev/null 2>&1
        run_wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
        run_wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
        ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
        wineserver -k </dev/null >/dev/null 2>&1 || true
        wineserver -w </dev/null >/dev/null 2>&1 || true
    fi
    wineserver -p </dev/null >/dev/null 2>&1 || true # already running: fine
    run_wine cmd /c exit </dev/null >/dev/null 2>&1
    ;;
down)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    ;;
*)
    echo "usage: wine_prefix.sh up PREFIX PROGRAM | down PREFIX" >&2
    exit 2
    ;;
esac
