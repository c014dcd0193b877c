#!/bin/sh
# The README's main job, run by `make demo` after `make` has built and staged
# everything:
#   1. copies samples/ to build/demo/samples and completes it there (a
#      read-only file, a hidden file, a file over 1 MiB), since git keeps
#      neither attributes nor, sensibly, large files;
#   2. packs it into dist/demo/Sample.exe (the shipped 32-bit stub) and
#      dist/demo/Sample-x64.exe (the 64-bit stub, which wine64 can run);
#   3. lists the package with `selfex list`;
#   4. runs Sample-x64.exe under wine64 in dist/demo/extracted: on your
#      display when there is one (press OK to accept the proposed folder),
#      otherwise on a private Xvfb where the demo accepts it and takes
#      screenshots;
#   5. compares the extracted tree with the packed one (names, bytes, times,
#      read-only and hidden attributes) and prints the result.
set -eu
cd "$(dirname "$0")/.."
ROOT=$PWD
DIST=$ROOT/dist
DEMO=$DIST/demo
WORK=$ROOT/build/demo
SHOTS=$DEMO/screenshots
SELFEX=$DIST/bin/selfex
STUB_X64=$DIST/stub/selfex-stub-x64.exe
PACKAGE=Sample-x64
WINE64=$(command -v wine64 || echo /usr/lib/wine/wine64)
WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
XVFB_PID=
PACKAGE_PID=

say() { printf '\n== %s\n' "$*"; }
die() { printf 'demo: %s\n' "$*" >&2; exit 1; }

cleanup() {
    set +e
    [ -n "$PACKAGE_PID" ] && kill "$PACKAGE_PID" 2>/dev/null
    [ -n "${WINEPREFIX:-}" ] && "$WINESERVER" -k >/dev/null 2>&1
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# wait_for TENTHS COMMAND...: polls COMMAND ten times a second; false when it
# never succeeded.
wait_for() {
    tries=$1
    shift
    until "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ $tries -gt 0 ] || return 1
        sleep 0.1
    done
}

# --- 0. what `make` builds ------------------------------------------------
for f in "$SELFEX" "$DIST/stub/selfex-stub-x86.exe" "$STUB_X64"; do
    [ -f "$f" ] || { echo "demo: $f is missing; building first"; make all; break; }
done
for f in "$SELFEX" "$DIST/stub/selfex-stub-x86.exe" "$STUB_X64"; do
    [ -f "$f" ] || die "$f is still missing after make"
done
[ -x "$WINE64" ] || die "wine64 is not installed (make deps)"

# --- 1. the tree to pack ----------------------------------------------------
say "Preparing build/demo/samples from samples/"
rm -rf "$WORK/samples"
mkdir -p "$WORK" "$DEMO"
cp -R samples "$WORK/samples"
TREE=$WORK/samples
# Fixed times, so that the listing is the same on every run.
find "$TREE" -type f -exec touch -d '2024-05-01 12:00:00' {} +
# The large file: 1.3 MiB of numbered log lines, the same on every run.
awk 'BEGIN { for (i = 1; i <= 20000; i++)
                 printf "%06d 2024-05-%02d 12:%02d:%02d INFO request %d served in %d ms\n",
                        i, i % 28 + 1, i % 60, (i * 7) % 60, i * 31 % 9973, i % 250 }' \
    > "$TREE/data/large-log.txt"
touch -d '2024-05-28 23:59:58' "$TREE/data/large-log.txt"
chmod a-w "$TREE/config/settings.ini"
# Hidden lives in the extended attribute that Wine and Samba use.
HIDDEN=yes
setfattr -n user.DOSATTRIB -v '"0x22"' "$TREE/config/.cache" 2>/dev/null || HIDDEN=no
[ $HIDDEN = yes ] || echo "note: this file system keeps no extended attributes; config/.cache is packed visible"
echo "$(find "$TREE" -type f | wc -l) files, $(du -sk "$TREE" | cut -f1) KiB"

# --- 2. the packages ----------------------------------------------------------
say "Packing"
"$SELFEX" pack -o "$DEMO/Sample.exe" "$TREE"
"$SELFEX" pack -o "$DEMO/$PACKAGE.exe" --stub "$STUB_X64" "$TREE"

# --- 3. the listing -------------------------------------------------------------
say "selfex list dist/demo/Sample.exe"
"$SELFEX" list "$DEMO/Sample.exe"

# --- 4. the package under Wine ------------------------------------------------------
OUT=$DEMO/extracted
rm -rf "$OUT" "$SHOTS"
mkdir -p "$OUT"
run_package() { # runs the package with the extraction folder as current folder
    (cd "$OUT" && "$WINE64" "$DEMO/$PACKAGE.exe" 2>"$WORK/wine.log"; echo $? > "$WORK/exit") &
    PACKAGE_PID=$!
}
make_prefix() { # PREFIX [headless]: a Wine prefix of the demo's own
    export WINEPREFIX=$1
    if [ ! -f "$WINEPREFIX/.selfex-ready" ]; then
        echo "making the Wine prefix $WINEPREFIX (once)"
        mkdir -p "$WINEPREFIX"
        "$WINE64" wineboot -i >/dev/null 2>&1
        if [ $# -gt 1 ]; then
            # No window manager on Xvfb: Wine draws the frames itself.
            "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
            "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
        fi
        "$WINESERVER" -w
        touch "$WINEPREFIX/.selfex-ready"
    fi
}
shot() { # NAME: a screenshot of the whole virtual screen, trimmed
    import -window root "$SHOTS/$1.png" 2>/dev/null &&
        convert "$SHOTS/$1.png" -trim +repage "$SHOTS/$1.png" 2>/dev/null &&
        echo "screenshot: dist/demo/screenshots/$1.png"
}

rm -f "$WORK/exit"
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    say "Running $PACKAGE.exe on your display"
    echo "A window titled \"$PACKAGE\" opens. Press OK to accept the proposed folder"
    echo "($OUT); the package extracts into $PACKAGE\\ below it and closes itself."
    make_prefix "$WORK/wineprefix-display"
    run_package
    wait "$PACKAGE_PID" || true
    PACKAGE_PID=
    SHOTS=
else
    say "Running $PACKAGE.exe under wine64 on a private Xvfb"
    mkdir -p "$SHOTS"
    rm -f "$WORK/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
    XVFB_PID=$!
    wait_for 300 test -s "$WORK/display" || die "Xvfb did not start"
    DISPLAY=:$(cat "$WORK/display")
    export DISPLAY
    # After Xvfb: Wine's desktop process, started with the prefix, must
    # find the display.
    make_prefix "$WORK/wineprefix-xvfb" headless
    run_package
    # The folder dialog carries the package's name as its caption.
    # Wine's first start in a new prefix can take a minute or two.
    dialog_or_end() { xdotool search --name "^$PACKAGE\$" || test -s "$WORK/exit"; }
    wait_for 3000 dialog_or_end || die "the folder dialog did not show within five minutes"
    [ -s "$WORK/exit" ] && die "the package ended without showing its folder dialog (Wine said: build/demo/wine.log)"
    sleep 1
    shot 1-folder-dialog
    echo "accepting the proposed folder: $OUT"
    xdotool key Return
    # The progress dialog ("Extract") closes itself a second after success.
    if wait_for 100 xdotool search --name '^Extract$'; then
        shot 2-progress-dialog
    fi
    wait_for 3000 test -s "$WORK/exit" || die "the package did not finish within five minutes"
    wait "$PACKAGE_PID" 2>/dev/null || true
    PACKAGE_PID=
fi

# --- 5. the result ------------------------------------------------------------------
say "Comparing dist/demo/extracted/$PACKAGE with build/demo/samples"
GOT=$OUT/$PACKAGE
problems=0
problem() { echo "  DIFFERS: $*"; problems=$((problems + 1)); }
[ -d "$GOT" ] || die "nothing was extracted to $GOT"
(cd "$TREE" && find . -type f | sort) > "$WORK/want.txt"
(cd "$GOT" && find . -type f | sort) > "$WORK/got.txt"
cmp -s "$WORK/want.txt" "$WORK/got.txt" || problem "the file lists differ: $(diff "$WORK/want.txt" "$WORK/got.txt" | head -3 | tr '\n' ' ')"
while IFS= read -r f; do
    [ -f "$GOT/$f" ] || continue
    cmp -s "$TREE/$f" "$GOT/$f" || problem "$f: contents"
    # Cabinets keep times to two seconds.
    [ $(($(stat -c %Y "$TREE/$f") / 2 * 2)) = "$(stat -c %Y "$GOT/$f")" ] || problem "$f: modification time"
done < "$WORK/want.txt"
stat -c %A "$GOT/config/settings.ini" | grep -q '^-r-' || problem "config/settings.ini is not read-only"
if [ $HIDDEN = yes ]; then
    attr=$(getfattr --only-values -n user.DOSATTRIB "$GOT/config/.cache" 2>/dev/null || echo 0)
    [ $((attr & 2)) = 2 ] || problem "config/.cache is not hidden"
fi
count=$(wc -l < "$WORK/want.txt")
bytes=$(cd "$TREE" && find . -type f -exec cat {} + | wc -c)

say "Result"
echo "packages:   dist/demo/Sample.exe ($(stat -c %s "$DEMO/Sample.exe") bytes, x86 stub)"
echo "            dist/demo/$PACKAGE.exe ($(stat -c %s "$DEMO/$PACKAGE.exe") bytes, x64 stub)"
echo "extracted:  dist/demo/extracted/$PACKAGE/"
[ -n "$SHOTS" ] && echo "screenshots: dist/demo/screenshots/ ($(ls "$SHOTS" | tr '\n' ' '))"
if [ $problems -eq 0 ]; then
    echo "MATCH: all $count files ($bytes bytes) came out of the package with their names, contents,"
    echo "       modification times and read-only/hidden attributes."
else
    echo "MISMATCH: $problems differences (see above)"
    exit 1
fi
