#!/bin/bash
# Interop both ways between selfex and the other cabinet tools:
#   - what selfex packs (bare cabinets and the cabinet inside packages, stored,
#     MSZIP and LZX, one folder and several) is listed by cabextract, 7zz and
#     gcab with the same names, sizes, times and attributes, and extracted by
#     them byte for byte;
#   - LZX cabinets of varied inputs (tests/tools/lzx-cases.sh) are extracted
#     byte for byte by cabextract, 7zz, gcab and selfex (our decoder);
#   - what gcab writes, selfex lists, tests and extracts.
# usage: interop.sh SELFEX WORKDIR
# Needs cabextract, 7zz, gcab, setfattr and python3; a missing one fails the test.
set -u
SELFEX=$1
WORK=$2
. "$(dirname "$0")/lzx-cases.sh"
# A zone without daylight saving time: Windows converts file times to local
# time with the offset in force now, not the one of the date converted, and
# selfex does the same on every system; a fixed offset keeps the expected
# times independent of the season the test runs in. Half an hour on top
# catches conversions that assume whole hours.
export TZ=Asia/Kolkata LC_ALL=C.UTF-8
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
for tool in cabextract 7zz gcab setfattr python3; do
  command -v $tool >/dev/null || { echo "missing tool: $tool"; exit 1; }
done

rm -rf "$WORK" && mkdir -p "$WORK" && cd "$WORK" || exit 1

# --- the tree -------------------------------------------------------------
mkdir -p tree/deep/a/b/c/d/e/f/g/h "tree/Ünïcødé" tree/zero
printf 'top level\n' > tree/top.txt
: > tree/empty.txt
: > tree/zero/also-empty
head -c 300000 /dev/urandom > tree/noise.bin                 # > one block, incompressible
seq 1 120000 > tree/deep/a/b/c/d/e/f/g/h/leaf.txt             # > one block, compressible
printf 'unicode\n' > "tree/Ünïcødé/日本語 ☕.txt"
printf 'read only\n' > tree/readonly.txt
printf 'hidden\n' > tree/hidden.txt
find tree -type f -exec touch -d '2021-03-04 05:06:09' {} +  # odd second: stored as 05:06:08
touch -d '1999-12-31 23:59:58' tree/top.txt
chmod 444 tree/readonly.txt
setfattr -n user.DOSATTRIB -v '"0x22"' tree/hidden.txt 2>/dev/null || echo "note: no user xattrs here"

# name<TAB>size<TAB>YYYY-MM-DD HH:MM:SS per file, "/" separators, sorted.
expected_listing() {
  (cd tree && find . -type f | sed 's|^\./||' | while IFS= read -r f; do
    t=$(( $(stat -c %Y "$f") / 2 * 2 ))
    printf '%s\t%s\t%s\n' "$f" "$(stat -c %s "$f")" "$(date -d @$t '+%Y-%m-%d %H:%M:%S')"
  done) | sort
}
expected_listing > expected.txt
# name<TAB>attribute letters as 7-Zip prints them<TAB>the bits as gcab prints
# them: read-only from the owner's write permission, hidden from the xattr,
# archive on every file, the UTF-8 flag (0x80) on names beyond ASCII.
(cd tree && find . -type f | sed 's|^\./||' | while IFS= read -r f; do
  a="" bits=0
  case "$(stat -c %A "$f")" in ??w*) ;; *) a="R" bits=1 ;; esac
  case "$f" in hidden.txt) a="${a}HA" bits=$((bits | 0x22)) ;; *) a="${a}A" bits=$((bits | 0x20)) ;; esac
  printf '%s' "$f" | LC_ALL=C grep -q '[^ -~]' && bits=$((bits | 0x80))
  printf '%s\t%s\t0x%X\n' "$f" "$a" "$bits"
done) | sort > expected-attrs.txt

cabextract_listing() { # CABINET
  cabextract -q -l "$1" | sed -n 's/^ *\([0-9]*\) | \([0-9]*\)\.\([0-9]*\)\.\([0-9]*\) \([0-9:]*\) | \(.*\)$/\6\t\1\t\4-\3-\2 \5/p' | sort
}
sevenzip_listing() { # CABINET (columns: name size time, then name attributes)
  7zz l -slt "$1" | awk -F' = ' '/^Path = /{p=$2} /^Size = /{s=$2} /^Modified = /{m=$2} /^Attributes = /{print p "\t" s "\t" m "\t" $2}'
}
gcab_listing() { # CABINET (gcab shows stored times as UTC in the local zone: ask in UTC)
  TZ=UTC gcab -l -v "$1" | awk '{ n=$0; sub(/ [0-9]+ [0-9-]+ [0-9:]+ 0x[0-9A-Fa-f]+$/, "", n); gsub(/\\/, "/", n);
                           print n "\t" $(NF-3) "\t" $(NF-2) " " $(NF-1) "\t" $NF }' | sort
}
same_tree() { # DIR [nottimes]: bytes and (even-second) times equal to tree/
  diff -r tree "$1" >/dev/null || { fail "$1: contents differ from tree"; diff -r tree "$1" | head -5; return; }
  [ $# -gt 1 ] && return
  (cd tree && find . -type f) | while IFS= read -r f; do
    a=$(( $(stat -c %Y "tree/$f") / 2 * 2 )); b=$(stat -c %Y "$1/$f")
    [ "$a" = "$b" ] || echo "FAIL: $1/$f: time $b, expected $a"
  done | tee -a time-failures.txt
}

# --- selfex writes, the others read --------------------------------------
check_cabinet() { # LABEL CABINET
  label=$1 cab=$2
  cabextract -q -t "$cab" >/dev/null 2>&1 || fail "$label: cabextract -t"
  cabextract_listing "$cab" > got.txt
  diff expected.txt got.txt >/dev/null || { fail "$label: cabextract listing"; diff expected.txt got.txt | head -5; }
  sevenzip_listing "$cab" | cut -f1-3 | sort > got.txt
  diff expected.txt got.txt >/dev/null || { fail "$label: 7zz listing"; diff expected.txt got.txt | head -5; }
  sevenzip_listing "$cab" | cut -f1,4 | sort > got.txt
  cut -f1,2 expected-attrs.txt | diff - got.txt >/dev/null || { fail "$label: 7zz attributes"; head -5 got.txt; }
  gcab_listing "$cab" | cut -f1-3 > got.txt
  diff expected.txt got.txt >/dev/null || { fail "$label: gcab listing"; diff expected.txt got.txt | head -5; }
  gcab_listing "$cab" | awk -F'\t' '{print $1 "\t" toupper($4)}' | sed 's/\t0X/\t0x/' > got.txt
  cut -f1,3 expected-attrs.txt | diff - got.txt >/dev/null || { fail "$label: gcab attributes"; head -5 got.txt; }
  for d in out-cabextract out-7zz out-gcab; do rm -rf "$d"; done
  cabextract -q -d out-cabextract "$cab" >/dev/null 2>&1 || fail "$label: cabextract -x"
  7zz x -y -bd -oout-7zz "$cab" >/dev/null || fail "$label: 7zz x"
  mkdir out-gcab && gcab -x -C out-gcab "$cab" >/dev/null 2>&1 || fail "$label: gcab -x"
  chmod -R u+w out-cabextract out-7zz out-gcab 2>/dev/null
  same_tree out-cabextract
  same_tree out-7zz
  same_tree out-gcab nottimes   # gcab -x leaves the times of extraction
}

# fake_stub SIZE FILE: SIZE bytes of filler behind the PE headers the packer
# checks ("MZ", e_lfanew 0x40, "PE\0\0", a PE32 optional header, GUI subsystem).
fake_stub() {
  head -c "$1" /dev/zero | tr '\0' 'S' > "$2"
  put() { printf "$2" | dd of="$3" bs=1 seek=$(($1)) conv=notrunc status=none; }
  put 0x00 'MZ' "$2"; put 0x3C '\x40\0\0\0' "$2"; put 0x40 'PE\0\0' "$2"
  put 0x54 '\xe0\0' "$2"; put 0x58 '\x0b\x01' "$2"; put 0x9C '\x02\0' "$2"
}
fake_stub 200 stub-short.bin                                  # padded to 160000
fake_stub 200000 stub-long.bin                                # cabinet right behind it
for variant in "mszip" "none" "mszip --folder-size 128K" "lzx" "lzx:15 --level 1" "lzx --best --folder-size 128K"; do
  name=$(echo "$variant" | tr -d ' -' | tr ':' '_')
  # shellcheck disable=SC2086
  "$SELFEX" pack -o "$name.cab" --compression $variant tree >/dev/null || fail "pack $name.cab"
  check_cabinet "$name.cab" "$name.cab"
done
"$SELFEX" pack -o multi.cab --folder-size 128K tree | grep -q 'in [2-9] folders' || fail "multi.cab has one folder"
for stub in short long; do
  "$SELFEX" pack -o "pkg-$stub.exe" --stub "stub-$stub.bin" tree >/dev/null || fail "pack pkg-$stub.exe"
  [ "$stub" = short ] && offset=160000 || offset=200000
  tail -c +$((offset + 1)) "pkg-$stub.exe" > "pkg-$stub.cab"
  cmp -s "pkg-$stub.cab" mszip.cab || fail "pkg-$stub.exe: the cabinet behind the stub differs from the bare one"
  check_cabinet "pkg-$stub.exe" "pkg-$stub.cab"
done
[ -s time-failures.txt ] && fail "extracted times differ"

# --- LZX: varied inputs, every reader ----------------------------------------
lzx_make_cases lzx-in > lzx-cases.txt || fail "making the LZX inputs"
while read -r name compression options; do
  cab=lzx-$name.cab
  # shellcheck disable=SC2086
  "$SELFEX" pack -o "$cab" --compression $compression $options "lzx-in/$name" >/dev/null || { fail "pack $cab"; continue; }
  for d in out-cabextract out-7zz out-gcab out-selfex; do rm -rf "$d"; done
  cabextract -q -t "$cab" >/dev/null 2>&1 || fail "$cab: cabextract -t"
  cabextract -q -d out-cabextract "$cab" >/dev/null 2>&1 || fail "$cab: cabextract -x"
  7zz x -y -bd -oout-7zz "$cab" >/dev/null || fail "$cab: 7zz x"
  mkdir out-gcab && gcab -x -C out-gcab "$cab" >/dev/null 2>&1 || fail "$cab: gcab -x"
  "$SELFEX" test "$cab" >/dev/null || fail "$cab: selfex test"
  "$SELFEX" extract -d out-selfex "$cab" || fail "$cab: selfex extract"
  for d in out-cabextract out-7zz out-gcab out-selfex; do
    diff -r "lzx-in/$name" "$d" >/dev/null || fail "$cab: $d differs from the input"
  done
done < lzx-cases.txt

# --- gcab writes, selfex reads ---------------------------------------------
(cd tree && find . -type f | sed 's|^\./||' | sort) > files.txt
(cd tree && xargs -d '\n' gcab -c -z ../gcab.cab < ../files.txt) || fail "gcab -c"
"$SELFEX" test gcab.cab >/dev/null || fail "selfex test gcab.cab"
"$SELFEX" list -q gcab.cab | awk '{ sz=$1; d=$2; t=$3; sub(/^ *[0-9]+  [0-9-]+ [0-9:]+  ....  . /, ""); gsub(/\\/, "/");
                                  print $0 "\t" sz "\t" d " " t }' | sort > got.txt
gcab_listing gcab.cab | cut -f1-3 > want.txt   # the stored times, as selfex shows them
diff want.txt got.txt >/dev/null || { fail "selfex list of gcab.cab"; diff want.txt got.txt | head -5; }
rm -rf out-selfex && "$SELFEX" extract -d out-selfex gcab.cab || fail "selfex extract gcab.cab"
diff -r tree out-selfex >/dev/null || fail "selfex extract of gcab.cab differs from tree"

# --- only empty files, and no files at all ---------------------------------
mkdir -p only-empty/sub nothing/emptydir && : > only-empty/a && : > only-empty/sub/b
"$SELFEX" pack -o only-empty.cab only-empty >/dev/null || fail "pack only-empty.cab"
cabextract -q -t only-empty.cab >/dev/null 2>&1 || fail "cabextract -t only-empty.cab"
7zz t only-empty.cab >/dev/null || fail "7zz t only-empty.cab"
gcab -l only-empty.cab | awk '{print $1}' | sort | tr '\n' ' ' | grep -qx 'a sub.b ' || fail "gcab -l only-empty.cab"
"$SELFEX" pack -o zero.cab nothing >/dev/null 2>&1 || fail "pack zero.cab"
7zz t zero.cab >/dev/null || fail "7zz t zero.cab"
gcab -l zero.cab >/dev/null || fail "gcab -l zero.cab"
"$SELFEX" test zero.cab >/dev/null || fail "selfex test zero.cab"
# libmspack takes a cabinet without files for no cabinet at all.
cabextract -q -t zero.cab >/dev/null 2>&1 && echo "note: cabextract now accepts cabinets without files"

if [ $failures -eq 0 ]; then echo "interop: all checks passed"; else echo "interop: $failures failures"; fi
[ $failures -eq 0 ]
