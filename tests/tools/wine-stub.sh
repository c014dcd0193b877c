#!/bin/bash
# The Windows direction: selfex.exe (the Windows build, under wine64) packs a
# tree behind the x64 stub, once with MSZIP and once with LZX; each package,
# run under wine64 on a private Xvfb with its proposed folder accepted, and
# selfex.exe extract both unpack it through Wine's Cabinet.dll with names,
# bytes, times and attributes intact; cabextract, 7zz and gcab read what the
# Windows build wrote. The LZX interop inputs (lzx-cases.sh), packed by
# selfex.exe, are extracted through Wine's Cabinet.dll and by cabextract. A
# package with the author's icon and version information shows them to
# wrestool and to Windows' version API (VERSION_PROBE) and still extracts; a
# package signed with osslsigncode verifies, lists, tests and extracts.
# usage: wine-stub.sh SELFEX_EXE STUB_EXE WORKDIR SOURCE_DIR VERSION_PROBE
set -u -o pipefail # selfex() pipes through tr: its status must be selfex.exe's
SELFEX_EXE=$1
STUB_EXE=$2
WORK=$3
VERSION_PROBE=$5
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
rm -rf tree run out-selfex out-lzx out-lzx-* lzx-in out-signed
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

# 7. The author's icon and version information, packed by selfex.exe.
convert -size 48x48 xc:'#2060c0' -size 32x32 xc:'#c04020' -size 16x16 xc:'#20a040' author.ico
selfex pack -o "$(winpath "$WORK/run/Authored.exe")" --stub "$(winpath "$STUB_EXE")" \
    --icon "$(winpath "$WORK/author.ico")" --version-info 'ProductName=Sample Tool' \
    --version-info FileVersion=1.2.3.4 --version-info 'ProductVersion=5.6 beta' \
    --version-info 'CompanyName=Ünïcødé Ltd.' --version-info 'FileDescription=Sample Tool Setup' \
    --version-info 'LegalCopyright=© 2026 Sample' --version-info OriginalFilename=Authored.exe \
    "$(winpath "$WORK/tree")" > pack-authored.txt || fail "selfex.exe pack --icon --version-info"
wrestool -l run/Authored.exe > wrestool.txt 2>&1 || fail "wrestool -l"
for resource in '--type=14 --name=100 ' '--type=16 --name=1 ' '--type=5 --name=101 ' '--type=5 --name=102 ' \
    '--type=6 --name=1 ' '--type=24 --name=1 '; do
    grep -q -- "^$resource" wrestool.txt || fail "wrestool -l shows no $resource"
done
[ "$(grep -c -- '^--type=3 ' wrestool.txt)" = 3 ] || fail "wrestool -l: not the author's three icon images"
# icoutils 0.32.3 pads what it extracts with 16 zero bytes per image (the
# stub's own icon, as windres stored it, comes back the same way).
wrestool -x --type=14 --name=100 run/Authored.exe > icon-back.ico
size=$(stat -c %s author.ico)
cmp -s -n "$size" author.ico icon-back.ico && [ -z "$(tail -c +$((size + 1)) icon-back.ico | tr -d '\0')" ] ||
    fail "wrestool -x does not give back the author's icon"
"$WINE64" "$VERSION_PROBE" "$(winpath "$WORK/run/Authored.exe")" ProductName FileVersion ProductVersion CompanyName \
    FileDescription LegalCopyright OriginalFilename InternalName 2>&1 | tr -d '\r' > probe.txt
cat > probe-expected.txt <<'END'
Fixed 1.2.3.4 5.6.0.0
Translation 0409 04B0
ProductName=Sample Tool
FileVersion=1.2.3.4
ProductVersion=5.6 beta
CompanyName=Ünïcødé Ltd.
FileDescription=Sample Tool Setup
LegalCopyright=© 2026 Sample
OriginalFilename=Authored.exe
InternalName missing
END
cmp -s probe.txt probe-expected.txt || fail "the version probe reads: $(cat probe.txt)"
wp_start "$WORK/run/Authored.exe" "$WORK/run" "$WORK"
wp_accept Authored "$WORK" || fail "the authored package's run"
same_tree run/Authored

# 8. Signed after packing with a throw-away certificate: it verifies, and
# selfex.exe and the package itself still find and extract the cabinet.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=selfex test signer' \
    -keyout sign.key -out sign.crt >/dev/null 2>&1 || fail "openssl req"
rm -f run/Signed.exe
osslsigncode sign -certs sign.crt -key sign.key -n 'selfex test' -in run/Package.exe -out run/Signed.exe \
    >sign.txt 2>&1 || fail "osslsigncode sign: $(cat sign.txt)"
osslsigncode verify -CAfile sign.crt -in run/Signed.exe >verify.txt 2>&1 || fail "osslsigncode verify: $(tail -3 verify.txt)"
selfex list -v "$(winpath "$WORK/run/Signed.exe")" | grep -q '^Authenticode signature: present$' ||
    fail "selfex.exe list -v does not see the signature"
selfex list --json "$(winpath "$WORK/run/Package.exe")" | grep -q '"signature": "absent"' ||
    fail "selfex.exe list --json sees a signature on the unsigned package"
"$WINE64" "$SELFEX_EXE" test "$(winpath "$WORK/run/Signed.exe")" >/dev/null || fail "selfex.exe test of the signed package"
"$WINE64" "$SELFEX_EXE" extract -d "$(winpath "$WORK/out-signed")" "$(winpath "$WORK/run/Signed.exe")" || fail "selfex.exe extract (signed)"
same_tree out-signed
wp_start "$WORK/run/Signed.exe" "$WORK/run" "$WORK"
wp_accept Signed "$WORK" || fail "the signed package's run"
same_tree run/Signed

[ -s tree-failures.txt ] && fail "extracted trees differ"
if [ $failures -eq 0 ]; then echo "wine-stub: all checks passed"; else echo "wine-stub: $failures failures"; fi
[ $failures -eq 0 ]
