#!/bin/bash
# The Windows direction: selfex.exe (the Windows build, under wine64) packs a
# tree behind the x64 stub, once with MSZIP and once with LZX; each package,
# run under wine64 on a private Xvfb with its proposed folder accepted, and
# selfex.exe extract both unpack it through Wine's Cabinet.dll with names,
# bytes, times and attributes intact; cabextract, 7zz and gcab read what the
# Windows build wrote. The LZX interop inputs (lzx-cases.sh), packed by
# selfex.exe, are extracted through Wine's Cabinet.dll and by cabextract.
# usage: wine-stub.sh SELFEX_EXE STUB_EXE WORKDIR SOURCE_DIR
set -u -o pipefail # selfex() pipes through tr: its status must be selfex.exe's
SELFEX_EXE=$1
STUB_EXE=$2
WORK=$3
. "$4/scripts/wine-package.sh"
. "$4/tests/tools/lzx-cases.sh"
# A zone without daylight saving time: Windows converts file times to local
# time with the offset in force now, not the one of the date converted, and
# selfex does the same on every system; a fixed offset keeps the expected
# times independent of the season the test runs in. Half an hour on top
# catches conversions that assume whole hours.
export TZ=Asia/Kolkata LC_ALL=C.UTF-8
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
selfex() { "$WINE64" "$SELFEX_EXE" "$@" | tr -d '\r'; }
trap wp_cleanup EXIT

mkdir -p "$WORK" && cd "$WORK" || exit 1
rm -rf tree run out-selfex out-lzx out-lzx-* lzx-in
mkdir -p "tree/deep/a/b/c/d/e" "tree/Ünïcødé" tree/zero tree/bin run
printf 'top\n' > tree/top.txt
: > tree/zero/empty.txt
seq 1 150000 > tree/deep/a/b/c/d/e/leaf.txt                 # several blocks
head -c 200000 /dev/urandom > tree/noise.bin                 # incompressible
printf 'unicode\n' > "tree/Ünïcødé/日本語 ☕.txt"
printf 'read only\n' > tree/readonly.txt
printf 'hidden\n' > tree/hidden.txt
cp /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libgcc_s_seh-1.dll /usr/bin/cabextract tree/bin/   # x86 code
find tree -type f -exec touch -d '2022-07-08 09:10:12' {} +
chmod 444 tree/readonly.txt
HIDDEN=yes
setfattr -n user.DOSATTRIB -v '"0x22"' tree/hidden.txt 2>/dev/null || HIDDEN=no

# same_tree DIR: files, bytes, times and attributes as in tree/.
same_tree() {
    [ "$(cd tree && find . -type f | sort)" = "$(cd "$1" && find . -type f | sort)" ] || { fail "$1: other files"; return; }
    (cd tree && find . -type f) | while IFS= read -r f; do
        cmp -s "tree/$f" "$1/$f" || echo "FAIL: $1/$f: contents"
        [ "$(stat -c %Y "tree/$f")" = "$(stat -c %Y "$1/$f")" ] || echo "FAIL: $1/$f: time"
    done | tee -a tree-failures.txt
    stat -c %A "$1/readonly.txt" | grep -q '^-r-' || fail "$1/readonly.txt is not read-only"
    if [ $HIDDEN = yes ]; then
        a=$(getfattr --only-values -n user.DOSATTRIB "$1/hidden.txt" 2>/dev/null || echo 0)
        [ $((a & 2)) = 2 ] || fail "$1/hidden.txt is not hidden"
    fi
}
rm -f tree-failures.txt

wp_start_xvfb "$WORK" || { echo "Xvfb did not start"; exit 1; }
wp_make_prefix "$WORK/prefix" headless

# 1. The Windows build packs: several folders, behind the x64 stub.
selfex pack -o "$(winpath "$WORK/run/Package.exe")" --stub "$(winpath "$STUB_EXE")" --folder-size 256K \
    "$(winpath "$WORK/tree")" > pack.txt || fail "selfex.exe pack"
grep -q 'in [2-9] folders' pack.txt || fail "the package has one folder: $(cat pack.txt)"
selfex list "$(winpath "$WORK/run/Package.exe")" > list.txt || fail "selfex.exe list"
grep -q '  2022-07-08 09:10:12  R--A    readonly.txt$' list.txt || fail "listing: $(grep readonly list.txt)"
grep -q '  -H-A    hidden.txt$' list.txt || [ $HIDDEN = no ] || fail "listing: $(grep hidden list.txt)"
grep -q 'Ünïcødé\\日本語 ☕.txt$' list.txt || fail "listing: no unicode name"

# 2. The others read what the Windows build wrote.
cabextract -q -t run/Package.exe >/dev/null 2>&1 || fail "cabextract -t"
7zz t run/Package.exe >/dev/null || fail "7zz t"
tail -c +160001 run/Package.exe > package.cab
gcab -l package.cab >/dev/null || fail "gcab -l"

# 3. selfex.exe extract, through Wine's Cabinet.dll.
selfex extract -d "$(winpath "$WORK/out-selfex")" "$(winpath "$WORK/run/Package.exe")" || fail "selfex.exe extract"
same_tree out-selfex

# 4. The package itself, its proposed folder accepted.
wp_start "$WORK/run/Package.exe" "$WORK/run" "$WORK"
wp_accept Package "$WORK" || fail "the package run"
[ "$(cat "$WORK/exit" 2>/dev/null)" = 0 ] || fail "the package's exit code"
same_tree run/Package

# 5. The same with LZX (several folders, x86 code for the call filter).
selfex pack -o "$(winpath "$WORK/run/LzxPackage.exe")" --stub "$(winpath "$STUB_EXE")" --compression lzx \
    --folder-size 256K "$(winpath "$WORK/tree")" > pack-lzx.txt || fail "selfex.exe pack --compression lzx"
grep -q 'in [2-9] folders (LZX:21)' pack-lzx.txt || fail "the LZX package: $(cat pack-lzx.txt)"
cabextract -q -t run/LzxPackage.exe >/dev/null 2>&1 || fail "cabextract -t LzxPackage.exe"
7zz t run/LzxPackage.exe >/dev/null || fail "7zz t LzxPackage.exe"
selfex extract -d "$(winpath "$WORK/out-lzx")" "$(winpath "$WORK/run/LzxPackage.exe")" || fail "selfex.exe extract (LZX)"
same_tree out-lzx
wp_start "$WORK/run/LzxPackage.exe" "$WORK/run" "$WORK"
wp_accept LzxPackage "$WORK" || fail "the LZX package run"
[ "$(cat "$WORK/exit" 2>/dev/null)" = 0 ] || fail "the LZX package's exit code"
same_tree run/LzxPackage

# 6. LZX inputs at the format's edges: packed by selfex.exe, read by Wine's
#    Cabinet.dll (selfex.exe extract) and by cabextract.
lzx_make_cases lzx-in > lzx-cases.txt || fail "making the LZX inputs"
while read -r name compression options; do
    cab=$WORK/lzx-$name.cab
    # shellcheck disable=SC2086
    selfex pack -o "$(winpath "$cab")" --compression $compression $options "$(winpath "$WORK/lzx-in/$name")" \
        >/dev/null || { fail "selfex.exe pack lzx-$name.cab"; continue; }
    selfex extract -d "$(winpath "$WORK/out-lzx-$name")" "$(winpath "$cab")" || fail "selfex.exe extract lzx-$name.cab"
    diff -r "lzx-in/$name" "out-lzx-$name" >/dev/null || fail "lzx-$name.cab: Wine's Cabinet.dll extracts other bytes"
    cabextract -q -t "$cab" >/dev/null 2>&1 || fail "lzx-$name.cab: cabextract -t"
done < lzx-cases.txt

[ -s tree-failures.txt ] && fail "extracted trees differ"
if [ $failures -eq 0 ]; then echo "wine-stub: all checks passed"; else echo "wine-stub: $failures failures"; fi
[ $failures -eq 0 ]
