#!/bin/sh
# Runs COMMAND so that every 32-bit x86 Linux program it starts (COMMAND itself if it is one)
# runs under QEMU, a statically linked qemu-i386: the route for machines whose kernel refuses
# 32-bit code. The registration lives in a binfmt_misc instance of this command's own, in a
# private user and mount namespace (kernel 6.7 or later), so nothing outside sees it, and
# programs of the machine's own kind, the 64-bit wineserver among them, still run natively.
# The F flag makes the kernel open QEMU once, at registration, for every program after it.
# Inside a route already (a program it started calls this again), COMMAND just runs.
# usage: i386_route.sh QEMU COMMAND [ARGUMENT...]
qemu=$1
shift
entry=/proc/sys/fs/binfmt_misc/tollvane-i386
[ -e "$entry" ] && exec "$@"
[ -x "$qemu" ] || { echo "i386_route: no qemu-i386 at $qemu (tools/qemu_i386.sh fetches it)" >&2; exit 126; }
# The magic and mask are the ELF header of an i386 executable or shared object (e_type 2 or 3).
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
exec unshare --user --map-root-user --mount sh -c '
    mount -t binfmt_misc tollvane /proc/sys/fs/binfmt_misc || exit 126
    printf "%s" ":tollvane-i386:M::$1:$2:$3:F" >/proc/sys/fs/binfmt_misc/register || exit 126
    shift 3
    exec "$@"' sh "$magic" "$mask" "$(realpath "$qemu")" "$@"
