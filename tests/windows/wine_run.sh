#!/bin/sh
# Runs a Windows program under the Wine loader its PE header asks for, in $WINEPREFIX.
# usage: wine_run.sh PROGRAM [ARGUMENT...]
. "$(dirname "$0")/wine_loader.sh"
use_wine_for "$1" || exit 127
exec "$wine" "$@"
