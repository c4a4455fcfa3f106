#!/bin/sh
# Sets up the route that runs the i686 build's Windows programs where the kernel refuses 32-bit
# code: qemu-i386 from Debian 12's backports (version 10 or later: Debian 12's own 7.2 hangs
# 32-bit Wine), taken out of its package into DIR, and registered in a binfmt_misc of a command's
# own by tests/windows/i386_route.sh. Checks first what the route needs and names what is
# missing. The emulator is fetched once and kept in DIR: a second run downloads nothing.
# The machine's apt setup and package lists are left alone: the one download goes through an
# apt setup of its own in DIR, built from the machine's own bookworm entry.
# Prints the emulator's version; exits 1 with the reason on its last line of stderr when the
# route cannot start.
# usage: qemu_i386.sh DIR
set -u
[ $# -eq 1 ] || { echo "usage: qemu_i386.sh DIR" >&2; exit 2; }
shown=$1
mkdir -p "$1" && dir=$(cd "$1" && pwd) || { echo "qemu-i386: cannot make $1" >&2; exit 1; }
here=$(cd "$(dirname "$0")/.." && pwd)
cannot() { echo "qemu-i386: $*" >&2; exit 1; }

# binfmt_misc instances private to a user namespace came with Linux 6.7.
kernel=$(uname -r)
major=${kernel%%.*}
minor=${kernel#*.}
minor=${minor%%[!0-9]*}
[ "$major" -gt 6 ] || { [ "$major" -eq 6 ] && [ "${minor:-0}" -ge 7 ]; } ||
    cannot "kernel $kernel is older than 6.7, the first with a binfmt_misc private to a command"
why=$(unshare --user --map-root-user --mount true 2>&1) ||
    cannot "user namespaces are not allowed here (${why:-unshare failed})"
why=$(unshare --user --map-root-user --mount mount -t binfmt_misc tollvane /proc/sys/fs/binfmt_misc 2>&1) ||
    cannot "binfmt_misc cannot be mounted in a user namespace (${why:-mount failed})"

# usable FILE: FILE is a statically linked qemu-i386 of version 10 or later (it starts in any
# namespace, with no libraries to find); its version line goes to $version.
usable() {
    version=$("$1" --version 2>/dev/null | head -n 1)
    major=$(echo "$version" | sed -n 's/^qemu-i386 version \([0-9]*\)\..*/\1/p')
    [ -n "$major" ] || { problem="$1 does not run: '$version'"; return 1; }
    [ "$major" -ge 10 ] || { problem="$version is older than 10 (Debian 12's 7.2 hangs 32-bit Wine)"; return 1; }
    if readelf -lW "$1" | grep -q 'program interpreter' || readelf -dW "$1" | grep -q NEEDED; then
        problem="$1 is not statically linked"
        return 1
    fi
}

if usable "$dir/qemu-i386" 2>/dev/null; then
    echo "qemu-i386: kept in $shown: $version, statically linked"
else
    # The same archive and key as the machine's bookworm entry, deb822 (Debian 12 images) or
    # one-line (older ones), with the backports suite in its place.
    apt=$dir/apt
    rm -rf "$apt" "$dir/qemu-i386"
    mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/parts" "$apt/deb"
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        awk 'BEGIN { RS = ""; FS = "\n" }
            {
                types = suites = kept = ""; enabled = "yes"; keep = 0
                for (i = 1; i <= NF; i++) {
                    if ($i ~ /^#/) continue
                    if ($i ~ /^[ \t]/) { if (keep) kept = kept $i "\n"; continue }
                    name = tolower(substr($i, 1, index($i, ":") - 1)); value = substr($i, index($i, ":") + 1)
                    keep = 1
                    if (name == "types") { types = value; keep = 0 }
                    else if (name == "suites") { suites = value; keep = 0 }
                    else if (name == "components") keep = 0
                    else if (name == "enabled") { enabled = value; keep = 0 }
                    if (keep) kept = kept $i "\n"
                }
                if (tolower(enabled) ~ /no/ || (" " types " ") !~ /[ \t]deb[ \t]/ ||
                    (" " suites " ") !~ /[ \t]bookworm[ \t]/) next
                printf "Types: deb\n%sSuites: bookworm-backports\nComponents: main\n", kept
                exit
            }' "$file" >"$apt/backports.sources"
        [ -s "$apt/backports.sources" ] && break
    done
    sourcelist=$apt/backports.sources
    if [ ! -s "$sourcelist" ]; then
        sourcelist=$apt/backports.list
        cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | awk '
            $1 == "deb" {
                i = 2; options = ""
                if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) options = options $(i++) " "; options = options $(i++) " " }
                if ($(i + 1) == "bookworm") { print "deb " options $i " bookworm-backports main"; exit }
            }' >"$sourcelist"
    fi
    [ -s "$sourcelist" ] || cannot "the machine's apt sources have no bookworm entry to take the archive and key from"
    set -- -q -o Dir::Etc::sourcelist="$sourcelist" -o Dir::Etc::sourceparts="$apt/parts" \
        -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" \
        -o APT::Architectures::="$(dpkg --print-architecture)" -o APT::Sandbox::User=root
    # apt-get update ends with status 0 when an archive cannot be reached: its Err lines tell.
    if ! apt-get "$@" update >"$apt/log" 2>&1 || grep -qE '^(Err:|E:)' "$apt/log"; then
        cannot "the download is not reachable: apt-get update of bookworm-backports failed:" \
            "$(grep -A1 -E '^(Err:|E:)' "$apt/log" | head -n 2 | tr -s '\n ' '  ')"
    fi
    candidate=$(apt-cache "$@" policy qemu-user 2>>"$apt/log" | sed -n 's/^ *Candidate: //p')
    case $candidate in "" | "(none)") cannot "bookworm-backports offers no qemu-user" ;; esac
    dpkg --compare-versions "$candidate" ge 1:10 ||
        cannot "bookworm-backports offers qemu-user $candidate, older than 10 (Debian 12's 7.2 hangs 32-bit Wine)"
    (cd "$apt/deb" && apt-get "$@" download "qemu-user=$candidate") >>"$apt/log" 2>&1 ||
        cannot "the download is not reachable: apt-get download qemu-user=$candidate failed: $(tail -n 1 "$apt/log")"
    dpkg-deb --fsys-tarfile "$apt"/deb/qemu-user_*.deb | tar -x -O ./usr/bin/qemu-i386 >"$dir/qemu-i386.part" &&
        chmod 755 "$dir/qemu-i386.part" || cannot "the qemu-user package holds no usr/bin/qemu-i386"
    usable "$dir/qemu-i386.part" || cannot "$problem"
    mv "$dir/qemu-i386.part" "$dir/qemu-i386"
    rm -rf "$apt" # 60 MB of package and lists, of no use once the emulator is out
    echo "qemu-i386: fetched qemu-user $candidate from bookworm-backports into $shown: $version, statically linked"
fi

# The route must start the 32-bit Wine loader, whatever else the machine lets through.
why=$(sh "$here/tests/windows/i386_route.sh" "$dir/qemu-i386" /usr/lib/wine/wine --version 2>&1) ||
    cannot "the 32-bit Wine loader does not start under qemu-i386: ${why:-exit status $?}"
