#!/bin/sh
# Checks the built plug-in file as the player will load it, without running it: its machine,
# the one export, imports of DLLs that Windows ships only, and the dialog templates among its
# resources (dialogs 101 and 102, US English).
# usage: check_product.sh DLL OBJDUMP FORMAT     (FORMAT: pei-i386 for the product)
dll=$1 objdump=$2 format=$3
headers=$("$objdump" -p "$dll") || { echo "check_product: $objdump cannot read $dll" >&2; exit 1; }
problems=0
fail() { echo "check_product: $dll: $*" >&2; problems=$((problems + 1)); }

echo "$headers" | grep -q "file format $format\$" || fail "not $format: $(echo "$headers" | grep -o 'file format .*')"

exports=$(echo "$headers" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p')
[ "$exports" = winampGetOutModule ] || fail "exports '$(echo $exports)', not winampGetOutModule alone"

for name in $(echo "$headers" | sed -n 's/^\s*DLL Name: //p'); do
    case $(echo "$name" | tr 'A-Z' 'a-z') in
    kernel32.dll | user32.dll | msacm32.dll | comdlg32.dll | shell32.dll | msvcrt.dll) ;;
    *) fail "imports $name, which Windows does not ship" ;;
    esac
done

# The resource tree: type 5 (dialog) -> name (0x65 for 101) -> language 0x409. objdump indents
# each level's entries two columns deeper than the one above.
resources=$(echo "$headers" | sed -n '/The .rsrc Resource Directory section/,/^$/p')
for dialog in 101 102; do
    echo "$resources" | awk -v id="$(printf '0x%06x' $dialog)" '
        { sub(/^[0-9a-f]+/, ""); depth = index($0, "Entry: ID: ") }
        depth == 4 { dialogs = /ID: 0x000005,/ }
        depth == 6 { named = dialogs && index($0, "ID: " id ",") }
        depth == 8 && named && /ID: 0x000409,/ { found = 1 }
        END { exit !found }' || fail "has no dialog template $dialog (US English) among its resources"
done

[ $problems -eq 0 ] && echo "check_product: $dll: $format, exports winampGetOutModule alone, system imports only, dialogs 101 and 102"
[ $problems -eq 0 ]
