#!/bin/sh
# Checks the built plug-in file as the player will load it, without running it: its machine,
# the one export, imports of DLLs that Windows ships only, and the dialog template among its
# resources (dialog 101, US English).
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

# The resource tree: type 5 (dialog) -> name 0x65 (101) -> language 0x409.
echo "$headers" | sed -n '/The .rsrc Resource Directory section/,/^$/p' | tr -s ' ' | awk '
    /Entry: ID: 0x000005,/ { type = 1; next }
    /Entry: ID: / && type == 1 && /ID: 0x000065,/ { name = 1; type = 2; next }
    /Entry: ID: / && name == 1 && /ID: 0x000409,/ { found = 1 }
    END { exit !found }' || fail "has no dialog template 101 (US English) among its resources"

[ $problems -eq 0 ] && echo "check_product: $dll: $format, exports winampGetOutModule alone, system imports only, dialog 101"
[ $problems -eq 0 ]
