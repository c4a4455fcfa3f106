#!/bin/sh
# Runs a Windows program under the Wine loader its PE header asks for, in $WINEPREFIX (through
# qemu-i386 for an i686 program where TOLLVANE_I386_QEMU names one).
# usage: wine_run.sh PROGRAM [ARGUMENT...]
. "$(dirname "$0")/wine_loader.sh"
use_wine_for "$1" || exit 127
[ -n "$wine_qemu" ] && exec sh "$wine_route" "$wine_qemu" "$wine" "$@"
exec "$wine" "$@"
