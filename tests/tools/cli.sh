#!/bin/bash
# selfex as its users run it, through the real binary: one table of command
# lines, each with its exit code and a part of its output, run natively and
# (with a RUNNER, cmake's wine-run.sh) by selfex.exe under Wine, so that the
# two builds are held to the same words where the cause is the same. Then
# the checks a table cannot hold: --json stays JSON when the listing fails,
# -p writes the stored bytes, the overwrite policies, --exclude and --links.
# Rows that need POSIX (links, another user) run natively only; the full
# disk needs a tmpfs, which only root may mount: without it, that row is
# skipped.
# usage: cli.sh SELFEX WORKDIR CORPUS [RUNNER]
set -u
SELFEX=$(realpath "$1")
WORK=$2
CORPUS=$(realpath "$3")
COMPLETION=$(realpath "$(dirname "$0")/../../packaging/bash-completion/selfex")
RUNNER=${4:+$(realpath "$4")}
export LC_ALL=C.UTF-8
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
native() { [ -z "$RUNNER" ]; }

rm -rf "$WORK" && mkdir -p "$WORK" && cd "$WORK" || exit 1
# selfex ARGS: runs it with its output in out.bin as it came, and in out.txt
# and err.txt as text (Wine's console output ends its lines in CR LF).
selfex() {
  local code
  $RUNNER "$SELFEX" "$@" >out.bin 2>err.bin
  code=$?
  tr -d '\r' <out.bin >out.txt
  tr -d '\r' <err.bin >err.txt
  return $code
}

# expect CODE STREAM TEXT ARGS...: runs selfex ARGS, which must exit with
# CODE and print TEXT (a fixed string; "" for anything) on STREAM (out or err).
expect() {
  local code=$1 stream=$2 text=$3 got
  shift 3
  selfex "$@" </dev/null
  got=$?
  [ "$got" = "$code" ] || fail "selfex $*: exit code $got, not $code: $(cat err.txt)"
  grep -qF -- "$text" "$stream.txt" || fail "selfex $*: no '$text' on std$stream: $(cat "$stream.txt")"
}

# --- inputs ------------------------------------------------------------------
mkdir -p tree/docs tree/src set
printf 'readme\n' > tree/readme.txt
printf 'manual\n' > tree/docs/manual.txt
seq 1 40000 > tree/docs/numbers.log
printf 'int main;\n' > tree/src/main.c
selfex pack -o Pkg.cab tree >/dev/null || fail "pack Pkg.cab"
selfex pack -o Other.cab tree/readme.txt >/dev/null || fail "pack Other.cab"
head -c 300000 /dev/urandom > big.bin
selfex pack -o big.cab --compression none big.bin >/dev/null || fail "pack big.cab"
cp "$CORPUS"/cabd_multi_basic_pt[1-4].cab set/
printf 'q' > 'q?.txt'
gcab -c question.cab 'q?.txt' || fail "gcab question.cab"

# --- one row per message, exit code and option -----------------------------------
expect 0 out 'selfex extract: extract a package' help extract
expect 2 err "Try 'selfex list --help'" list --frob Pkg.cab
expect 2 err '-q and -v exclude each other' test -q -v Pkg.cab
expect 2 err 'unknown command' frob
expect 1 err 'next cabinet "cabd_multi_basic_pt5.cab" (named in cabd_multi_basic_pt4.cab) not found in' \
  extract -d out set/cabd_multi_basic_pt1.cab
expect 1 err 'cabd_multi_basic_pt3.cab is cabinet 3 of set 12345 and continues "cabd_multi_basic_pt2.cab"; the set starts with "cabd_multi_basic_pt1.cab"' \
  test "$CORPUS/cabd_multi_basic_pt3.cab"
expect 0 err 'the set starts with "cabd_multi_basic_pt1.cab"' list "$CORPUS/cabd_multi_basic_pt3.cab"
expect 0 out '3 files, 190 bytes in 1 folder (none); 5 cabinets of 1264 bytes' list "$CORPUS/cabd_multi_basic_pt1.cab"
expect 1 out '  ! ..\relative\path' list "$CORPUS/dirwalk-vulns.cab"
expect 1 err 'dirwalk-vulns.cab: 29 of 29 stored names are unsafe (marked !)' list "$CORPUS/dirwalk-vulns.cab"
expect 0 out 'folder 0: MSZIP, ' list -v Pkg.cab
expect 1 err 'no cabinet found' list big.bin
expect 1 err "the stored name \"q?.txt\" is refused: the character '?', which Windows file names cannot hold (code 8, detail 123" \
  extract -d out question.cab
expect 1 out '  ! q?.txt' list question.cab
mkdir -p linkdest && ln -s ../tree linkdest/docs
expect 1 err 'linkdest/docs/manual.txt" is reached through "' extract -f -d linkdest Pkg.cab docs
grep -qF 'linkdest/docs", a symbolic link or junction; nothing is written through a link (code 8, detail 4395' err.txt ||
  fail "extract through a link: $(cat err.txt)"
long=$(printf 'd%.0s' $(seq 1 240))
expect 1 err 'nothing extracted: the stored name "docs\manual.txt" is refused below ' extract -d "$long" Pkg.cab
[ -e "$long" ] && fail "extract below a long path: wrote $(find "$long" | head -3)"
expect 1 err "no stored file matches 'nothing*'" extract -d out Pkg.cab 'nothing*'
expect 0 out 'all 4 files ok' test Pkg.cab
expect 0 out 'ok      docs\numbers.log (228894 bytes, CRC-32 ' test -v Pkg.cab
expect 2 err 'unknown --links' pack -o x.cab --links sometimes tree
expect 2 err '--stdout writes no files' extract -p -d out Pkg.cab
selfex test -q Pkg.cab; [ -s out.txt ] && fail "test -q printed $(cat out.txt)"

# --- list --json: a document on stdout whatever happens -------------------------------
json_ok() { python3 -c 'import json, sys; d = json.load(open(sys.argv[1])); sys.exit(0 if ("error" in d) == (sys.argv[2] == "error") else 1)' out.txt "$1"; }
for input in set/cabd_multi_basic_pt1.cab big.bin missing.cab "$CORPUS/dirwalk-vulns.cab" Pkg.cab; do
  selfex list --json "$input"
  case $input in
  Pkg.cab | */dirwalk-vulns.cab) json_ok no-error || fail "list --json $input: $(head -c 300 out.txt)" ;;
  *) json_ok error || fail "list --json $input: not JSON with an error: $(head -c 300 out.txt)" ;;
  esac
done

# --- extract: patterns, stdout, several packages, subfolders, overwriting -------------------
rm -rf out && selfex extract -d out Pkg.cab '*.TXT' docs || fail "extract by pattern: $(cat err.txt)"
[ "$(cd out && find . -type f | sort | tr '\n' ' ')" = "./docs/manual.txt ./docs/numbers.log ./readme.txt " ] ||
  fail "patterns selected $(cd out && find . -type f | sort | tr '\n' ' ')"
selfex extract -p Pkg.cab 'docs/numbers.log' && cmp -s out.bin tree/docs/numbers.log ||
  fail "extract -p: the bytes differ from the file"
selfex extract -p big.cab && cmp -s out.bin big.bin || fail "extract -p: binary bytes differ"
rm -rf out && selfex extract -s -d out Pkg.cab Other.cab || fail "extract -s of two packages: $(cat err.txt)"
[ -f out/Pkg/docs/manual.txt ] && [ -f out/Other/readme.txt ] || fail "extract -s: $(cd out && find . | tr '\n' ' ')"

printf 'mine\n' > out/Other/readme.txt
expect 0 err 'kept 1 file that exists' extract -d out/Other Other.cab
[ "$(cat out/Other/readme.txt)" = mine ] || fail "extract replaced a file without -f"
selfex extract -n -d out/Other Other.cab && [ "$(cat out/Other/readme.txt)" = mine ] || fail "extract -n replaced"
echo y | $RUNNER "$SELFEX" extract --overwrite=ask -d out/Other Other.cab >/dev/null 2>&1
[ "$(cat out/Other/readme.txt)" = readme ] || fail "--overwrite=ask, answered y: not replaced"
printf 'mine\n' > out/Other/readme.txt
selfex extract -f -d out/Other Other.cab && [ "$(cat out/Other/readme.txt)" = readme ] || fail "extract -f kept"

# --- pack: --exclude, --links -----------------------------------------------------
selfex pack -o ex.cab --exclude '*.log' --exclude SRC tree >/dev/null || fail "pack --exclude: $(cat err.txt)"
selfex list -q ex.cab
[ "$(awk '{ print $NF }' out.txt | tr '\n' ' ')" = "docs\\manual.txt readme.txt " ] || fail "--exclude left $(cat out.txt)"

if native; then
  # Our decoder says what was wrong with the data; Cabinet.dll does not.
  expect 1 out 'corrupt: a Quantum match offset beyond the window' test "$CORPUS/cve-2018-18584-qtm-max-size-block.cab"
  mkdir -p linked && printf 'target\n' > linked/target.txt && ln -s target.txt linked/link.txt && ln -s nowhere linked/dangling
  expect 0 err 'linked/dangling: symbolic link left out (--links follow stores what it leads to)' pack -o l.cab linked
  expect 1 err 'linked/dangling: a link that leads nowhere' pack -o l.cab --links follow linked
  expect 1 err 'linked/link.txt: a symbolic link' pack -o l.cab --links error linked
  selfex pack -o l.cab --links follow --exclude dangling linked >/dev/null && selfex list -q l.cab &&
    grep -q '    link.txt$' out.txt || fail "--links follow: $(cat out.txt err.txt)"

  # Bash completion takes the options and their values from the help texts.
  complete_words() {
    PATH=$(dirname "$SELFEX"):$PATH bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _selfex
      echo "${COMPREPLY[*]}"' sh "$COMPLETION" selfex "$@"
  }
  for row in 'pack --x6|--x64' 'pack --links f|follow' 'extract --overwrite a|ask always' 'help ex|extract'; do
    got=$(complete_words ${row%|*})
    [ "$got" = "${row#*|}" ] || fail "completion of 'selfex ${row%|*}': '$got'"
  done

  mkdir -p fifodest && mkfifo fifodest/readme.txt
  expect 1 err 'fifodest/readme.txt" is a FIFO, socket or device; only regular files are written' \
    extract -f -d fifodest Other.cab

  # Another user, for whom the destination is closed.
  if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
    mkdir -p closed && chmod 555 closed && chmod 755 "$WORK" && chmod 644 Other.cab
    setpriv --reuid=65534 --regid=65534 --clear-groups "$SELFEX" extract -d closed Other.cab 2>err.txt
    grep -qF 'readme.txt: cannot create "' err.txt && grep -qF 'closed/readme.txt": Permission denied (code 8' err.txt ||
      fail "extract into a closed folder: $(cat err.txt)"
  fi
fi

# A full disk: a tmpfs of 64 KiB.
mkdir -p full
if mount -t tmpfs -o size=64k tmpfs full 2>/dev/null; then
  expect 1 err 'big.bin: cannot write "' extract -d full big.cab
  grep -qF 'full/big.bin": No space left on device (code ' err.txt || fail "full disk: $(cat err.txt)"
  [ -z "$(ls full)" ] || fail "full disk: left $(ls full)"
  umount full
else
  echo "note: no tmpfs mount here; the full-disk row is skipped"
fi

if [ $failures -eq 0 ]; then echo "cli: all checks passed"; else echo "cli: $failures failures"; fi
[ $failures -eq 0 ]
