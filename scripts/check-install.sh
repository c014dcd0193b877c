#!/bin/sh
# The installed tool works on its own. Installs the staged build (dist/)
# into a temporary DESTDIR with PREFIX=/usr and runs the installed selfex
# there: pack with the installed stub (twice: the same input gives the same
# bytes), list, test and extract; the manual page shows under `man` and
# agrees with --help; bash completes its commands; a selfex copied alone
# names every place it looked for its stub and decoder. Then builds the
# .deb and checks what it holds. Run by `make test` after `make`.
set -u
cd "$(dirname "$0")/.."
ROOT=$PWD
WORK=$(mktemp -d)
trap 'chmod -R u+w "$WORK"; rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
export LC_ALL=C.UTF-8 TZ=UTC

DESTDIR=$WORK/root PREFIX=/usr scripts/install.sh >/dev/null || { echo "check-install: install failed"; exit 1; }
USR=$WORK/root/usr
SELFEX=$USR/bin/selfex

# --- the tool and its decoder ------------------------------------------------
"$SELFEX" --version > "$WORK/version.txt" || fail "selfex --version: $(cat "$WORK/version.txt")"
grep -qx "decoder: $USR/lib/selfex/libcabinet.so [0-9.]*" "$WORK/version.txt" ||
    fail "selfex --version does not name the installed decoder: $(cat "$WORK/version.txt")"

# --- a package, round trip ---------------------------------------------------
mkdir -p "$WORK/in/docs/deep" "$WORK/a" "$WORK/b"
printf 'read me\n' > "$WORK/in/readme.txt"
seq 1 40000 > "$WORK/in/docs/deep/numbers.txt"
: > "$WORK/in/docs/empty.txt"
find "$WORK/in" -type f -exec touch -d '2024-03-04 05:06:08' {} +
chmod a-w "$WORK/in/readme.txt"
(cd "$WORK/a" && "$SELFEX" pack -o pkg.exe ../in > pack.txt) || fail "pack: $(cat "$WORK/a/pack.txt")"
(cd "$WORK/b" && "$SELFEX" pack -o "$WORK/b/pkg.exe" "$WORK/in" > pack.txt) || fail "pack, second run"
cmp -s "$WORK/a/pkg.exe" "$WORK/b/pkg.exe" || fail "two packs of the same input differ"
stub=$USR/share/selfex/selfex-stub-x86.exe
cmp -s -n "$(stat -c %s "$stub")" "$stub" "$WORK/a/pkg.exe" || fail "the package does not begin with the installed stub"
"$SELFEX" list "$WORK/a/pkg.exe" > "$WORK/list.txt" || fail "list"
grep -qE ' 2024-03-04 05:06:08  R--A +readme.txt$' "$WORK/list.txt" || fail "list: $(cat "$WORK/list.txt")"
grep -q 'docs\\deep\\numbers.txt$' "$WORK/list.txt" || fail "list: no docs\\deep\\numbers.txt"
"$SELFEX" test "$WORK/a/pkg.exe" > "$WORK/test.txt" || fail "test: $(cat "$WORK/test.txt")"
"$SELFEX" extract -d "$WORK/out" "$WORK/a/pkg.exe" || fail "extract"
diff -r "$WORK/in" "$WORK/out" > /dev/null || fail "the extracted tree differs from the packed one"
[ "$(stat -c %Y "$WORK/out/docs/deep/numbers.txt")" = "$(stat -c %Y "$WORK/in/docs/deep/numbers.txt")" ] ||
    fail "extract: the file time differs"

# --- the manual page -----------------------------------------------------------
page=$USR/share/man/man1/selfex.1
warnings=$(groff -man -ww -z -Tutf8 "$page" 2>&1)
[ -z "$warnings" ] || fail "groff warns about selfex.1: $warnings"
MANPATH=$USR/share/man MANWIDTH=200 man -P cat selfex > "$WORK/man.txt" 2>"$WORK/man-errors.txt" ||
    fail "man selfex: $(cat "$WORK/man-errors.txt")"
# Every usage line and option of the help texts shows in the page.
commands=$("$SELFEX" --help | awk '/^commands:/ { listed = 1; next } listed && /^$/ { exit } listed { print $1 }')
for command in $commands; do
    "$SELFEX" "$command" --help | sed -n -e 's/^usage: //p' -e 's/^  \(-[^ ].*[^ ]\)   *.*/\1/p' |
    while IFS= read -r line; do
        grep -qF -- "$line" "$WORK/man.txt" || echo "FAIL: the manual page lacks \"$line\" of selfex $command --help"
    done
done > "$WORK/man-check.txt"
[ -s "$WORK/man-check.txt" ] && { cat "$WORK/man-check.txt"; failures=$((failures + 1)); }

# --- bash completion -------------------------------------------------------------
completion=$USR/share/bash-completion/completions/selfex
got=$(PATH=$USR/bin:$PATH bash -c '. "$1"; COMP_WORDS=(selfex ex); COMP_CWORD=1; _selfex; echo "${COMPREPLY[*]}"' \
      sh "$completion" 2>&1)
[ "$got" = extract ] || fail "bash completion of 'selfex ex': '$got'"
got=$(PATH=$USR/bin:$PATH bash -c '. "$1"; COMP_WORDS=(selfex extract --d); COMP_CWORD=2; _selfex; echo "${COMPREPLY[*]}"' \
      sh "$completion" 2>&1)
[ "$got" = --directory ] || fail "bash completion of 'selfex extract --d': '$got'"

# --- a selfex without its stub and decoder ----------------------------------------
mkdir -p "$WORK/alone/bin"
cp "$SELFEX" "$WORK/alone/bin/selfex"
"$WORK/alone/bin/selfex" pack -o "$WORK/alone/x.exe" "$WORK/in" 2> "$WORK/alone/pack.txt" && fail "pack without a stub succeeded"
for place in share/selfex/selfex-stub-x86.exe stub/selfex-stub-x86.exe; do
    grep -qF "$WORK/alone/$place" "$WORK/alone/pack.txt" || fail "pack without a stub does not name $place: $(cat "$WORK/alone/pack.txt")"
done
"$WORK/alone/bin/selfex" list "$WORK/a/pkg.exe" 2> "$WORK/alone/list.txt" && fail "list without a decoder succeeded"
grep -qF "libcabinet.so in $WORK/alone/bin, $WORK/alone/lib/selfex and $WORK/alone/lib" "$WORK/alone/list.txt" ||
    fail "list without a decoder does not name where it looked: $(cat "$WORK/alone/list.txt")"

# --- the Debian package -----------------------------------------------------------------
deb=$(scripts/make-deb.sh "$WORK/deb") || fail "make-deb"
if [ -f "$deb" ]; then
    dpkg-deb -x "$deb" "$WORK/deb/root" || fail "dpkg-deb -x"
    for f in usr/bin/selfex usr/lib/selfex/libcabinet.so usr/share/selfex/selfex-stub-x86.exe \
             usr/share/selfex/selfex-stub-x64.exe usr/share/man/man1/selfex.1.gz \
             usr/share/bash-completion/completions/selfex; do
        [ -f "$WORK/deb/root/$f" ] || fail "the .deb lacks /$f"
    done
    "$WORK/deb/root/usr/bin/selfex" --version > /dev/null || fail "the .deb's selfex --version"
    dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "the .deb's dependencies: $(dpkg-deb -f "$deb" Depends)"
    [ "$(dpkg-deb -c "$deb" | awk '{ print $2 }' | sort -u)" = root/root ] || fail "the .deb holds files not owned by root"
fi

if [ $failures -eq 0 ]; then echo "check-install: all checks passed"; else echo "check-install: $failures failures"; fi
[ $failures -eq 0 ]
