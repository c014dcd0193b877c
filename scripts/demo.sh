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
. scripts/wine-package.sh

say() { printf '\n== %s\n' "$*"; }
die() { printf 'demo: %s\n' "$*" >&2; exit 1; }
trap wp_cleanup EXIT
trap 'exit 1' INT TERM

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
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    say "Running $PACKAGE.exe on your display"
    echo "A window titled \"$PACKAGE\" opens. Press OK to accept the proposed folder"
    echo "($OUT); the package extracts into $PACKAGE\\ below it and closes itself."
    wp_make_prefix "$WORK/wineprefix-display"
    wp_start "$DEMO/$PACKAGE.exe" "$OUT" "$WORK"
    wait "$WP_PACKAGE_PID" || true
    WP_PACKAGE_PID=
    SHOTS=
else
    say "Running $PACKAGE.exe under wine64 on a private Xvfb"
    mkdir -p "$SHOTS"
    wp_start_xvfb "$WORK" || die "Xvfb did not start"
    wp_make_prefix "$WORK/wineprefix-xvfb" headless
    wp_start "$DEMO/$PACKAGE.exe" "$OUT" "$WORK"
    echo "accepting the proposed folder: $OUT"
    wp_accept "$PACKAGE" "$WORK" "$SHOTS" || die "the package run failed"
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
