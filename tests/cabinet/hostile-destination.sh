#!/bin/sh
# A destination that attacks the extractor from the file system, made from
# the POSIX side (Wine maps Z:\ to /, but a Windows program under Wine
# cannot make symbolic links or FIFOs there).
#
#   hostile-destination.sh make ROOT ROWS   ROOT/outside holds the victims;
#       ROOT/dest-1 .. dest-ROWS each hold a link to a file and to a folder
#       outside, a link leading nowhere, a hard link to a victim, a FIFO and
#       a read-only file; ROOT/dest-link links to dest-1; ROOT/full is a
#       64 KiB tmpfs where mounting is allowed (absent otherwise).
#   hostile-destination.sh clean ROOT
#   hostile-destination.sh run ROOT_PARENT PROGRAM ARGS...   make, run
#       PROGRAM with SELFEX_HOSTILE_ROOT set, clean; PROGRAM's exit code.
set -e
case "$1" in
make)
    root=$2
    mkdir -p "$root/outside/victim-dir"
    printf victim >"$root/outside/victim.txt"
    chmod 0444 "$root/outside/victim.txt"
    printf 'hard victim' >"$root/outside/hard-victim.txt"
    i=1
    while [ "$i" -le "$3" ]; do
        dest=$root/dest-$i
        mkdir "$dest"
        ln -s ../outside/victim.txt "$dest/linked-file.txt"
        ln -s ../outside/victim-dir "$dest/linked-dir"
        ln -s ../outside/new.txt "$dest/dangling.txt"
        ln "$root/outside/hard-victim.txt" "$dest/hard.txt"
        mkfifo "$dest/fifo"
        printf old >"$dest/readonly.txt"
        chmod 0444 "$dest/readonly.txt"
        i=$((i + 1))
    done
    ln -s dest-1 "$root/dest-link"
    mkdir "$root/full"
    mount -t tmpfs -o size=64k selfex-full "$root/full" 2>/dev/null || rmdir "$root/full"
    ;;
clean)
    umount "$2/full" 2>/dev/null || true
    chmod -R u+w "$2" 2>/dev/null || true
    rm -rf "$2"
    ;;
run)
    root=$(mktemp -d "$2/selfex-hostile-XXXXXX")
    shift 2
    "$0" make "$root" 8
    status=0
    SELFEX_HOSTILE_ROOT=$root "$@" || status=$?
    "$0" clean "$root"
    exit "$status"
    ;;
*)
    echo "usage: $0 make ROOT ROWS | clean ROOT | run PARENT PROGRAM..." >&2
    exit 2
    ;;
esac
