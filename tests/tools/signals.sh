#!/bin/bash
# selfex as a process, where only a process can be tested:
#   - SIGINT, SIGTERM and SIGHUP in the middle of pack, extract and test end
#     the run with 128 + the signal number and "interrupted by ..." on stderr,
#     and leave no temporary package, no file in progress and no temporary
#     folder (files finished before the signal stay);
#   - a FIFO given as a package, or named by a set as its next cabinet, is
#     refused at once instead of blocking the open;
#   - testing a file that declares 2 GB needs no 2 GB of memory.
# With a RUNNER (cmake's wine-run.sh), SELFEX is selfex.exe under Wine, which
# turns SIGINT into Ctrl-C for the program; Wine ends a program on SIGTERM
# and SIGHUP itself, so only SIGINT is sent there, and the FIFO and memory
# checks, which need POSIX, are left out.
# usage: signals.sh SELFEX WORKDIR SANITIZED(0|1) [RUNNER]
set -u
SELFEX=$(realpath "$1")
WORK=$2
SANITIZED=${3:-0}
RUNNER=${4:-}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Job control: a non-interactive shell starts background jobs with SIGINT
# ignored, and selfex keeps a signal its caller ignores.
set -m

rm -rf "$WORK" && mkdir -p "$WORK/tmp" && cd "$WORK" || exit 1
export TMPDIR=$WORK/tmp
SIGNALS="INT TERM HUP"
# tmp: selfex's temporary folder. Wine keeps its own in the prefix, and
# there the other checks look only for selfex's folders.
TEMPORARY=tmp
if [ -n "$RUNNER" ]; then
  SIGNALS=INT
  TEMPORARY=$(sed -n 's/^export WINEPREFIX="\(.*\)"$/\1/p' "$RUNNER")/drive_c/users/$(id -un)/Temp
fi
selfex() { $RUNNER "$SELFEX" "$@"; }
leftovers() { find "$TEMPORARY" -mindepth 1 -maxdepth 1 ${RUNNER:+-name 'selfex-test-*'} 2>/dev/null; }

# cabinet FILE NEXT SIZE: a one-file cabinet (6 stored bytes) whose file
# declares SIZE bytes, and whose header names NEXT as the next cabinet when
# NEXT is not empty.
cabinet() {
  python3 - "$@" <<'EOF'
import struct, sys
path, following, declared = sys.argv[1], sys.argv[2].encode(), int(sys.argv[3])
names = following + b'\0disk\0' if following else b''
data, name = b'inside', b'inside.txt\0'
folders = 36 + len(names)
files = folders + 8
blocks = files + 16 + len(name)
size = blocks + 8 + len(data)
header = b'MSCF' + struct.pack('<IIIIIBBHHHHH', 0, size, 0, files, 0, 3, 1, 1, 1, 2 if following else 0, 0x1234, 0)
folder = struct.pack('<IHH', blocks, 1, 0)
entry = struct.pack('<IIHHHH', declared, 0, 0, 0x5264, 0x28c4, 0x20) + name
block = struct.pack('<IHH', 0, len(data), len(data)) + data
open(path, 'wb').write(header + names + folder + entry + block)
EOF
}

# wait_for GLOB PID: polls (for up to 60 s) until a file matching GLOB
# exists; fails at once when process PID has ended.
wait_for() {
  for _ in $(seq 6000); do
    compgen -G "$1" >/dev/null && return 0
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.01
  done
  return 1
}

# interrupt SIGNAL GLOB COMMAND...: starts selfex COMMAND, sends SIGNAL once
# GLOB exists (the run is under way), and checks its end.
interrupt() {
  local signal=$1 glob=$2 code
  shift 2
  # Started directly, not through a function: $! must be selfex's own
  # process (wine-run.sh ends by exec'ing Wine) for the signal to reach it.
  $RUNNER "$SELFEX" "$@" >out.txt 2>err.txt &
  local pid=$!
  wait_for "$glob" $pid || fail "$* ($signal): $glob never appeared"
  kill -s "$signal" $pid
  wait $pid
  code=$?
  local number
  number=$(kill -l "$signal")
  [ $code -eq $((128 + number)) ] || fail "$* ($signal): exit code $code, not $((128 + number))"
  grep -q "interrupted by SIG$signal" err.txt || fail "$* ($signal): no reason given: $(cat err.txt)"
  [ -z "$(leftovers)" ] || fail "$* ($signal): left in the temporary folder: $(leftovers)"
}

# --- the inputs: a large compressible file behind a small one -------------
# The large one in a folder of its own: test makes that folder (and on
# Linux nothing else) when it reaches the file, so its appearance shows
# that the run is under way.
mkdir -p in/sub
printf 'small\n' > in/a-small.txt
seq 1 25000000 > in/sub/big.txt
selfex pack -o big.cab in >/dev/null || fail "pack big.cab"

for signal in $SIGNALS; do
  rm -f pack.cab
  interrupt $signal 'pack.cab.*.tmp' pack -o pack.cab in
  [ -z "$(ls pack.cab* 2>/dev/null)" ] || fail "pack ($signal): left $(ls pack.cab*)"

  # One worker: with several, the large file's folder may start before the
  # small one's is done, and the small file is then rightly removed too.
  rm -rf out
  interrupt $signal 'out/sub/big.txt' extract -j 1 -d out big.cab
  [ "$(cd out && find . -type f)" = ./a-small.txt ] ||
    fail "extract ($signal): out/ holds '$(cd out && find . -type f)', not just the finished a-small.txt"

  interrupt $signal "$TEMPORARY/selfex-test-*/sub" test -j 1 -v big.cab
  grep -q '^ok      a-small.txt' out.txt || fail "test ($signal): the finished file is not reported"
  grep -q '^FAILED  sub.big.txt: interrupted by SIG'"$signal" out.txt || fail "test ($signal): $(cat out.txt)"
done

if [ -n "$RUNNER" ]; then
  if [ $failures -eq 0 ]; then echo "signals under Wine: all checks passed"; else echo "signals: $failures failures"; fi
  exit $((failures != 0))
fi

# --- FIFOs: refused, never opened ------------------------------------------
mkdir -p fifo && mkfifo fifo/package.exe fifo/next.cab
cabinet fifo/first.cab next.cab 6
for input in fifo/package.exe fifo/first.cab; do
  timeout 20 "$SELFEX" list "$input" >/dev/null 2>err.txt
  code=$?
  [ $code -eq 1 ] || fail "list $input: exit code $code (124: it blocked)"
  grep -q 'not a regular file' err.txt || fail "list $input: $(cat err.txt)"
done

# --- a file that declares 2 GB: tested without 2 GB of memory --------------
# ASan reserves terabytes of address space, so no limit can apply there.
if [ "$SANITIZED" = 0 ]; then
  cabinet declares.cab "" 2147418112
  (ulimit -v 262144 && "$SELFEX" test declares.cab) >out.txt 2>err.txt
  code=$?
  [ $code -eq 1 ] || fail "test declares.cab under 256 MiB: exit code $code: $(cat err.txt)"
  grep -q '^FAILED  inside.txt: ' out.txt || fail "test declares.cab: $(cat out.txt)"
fi
[ -z "$(leftovers)" ] || fail "left in the temporary folder: $(leftovers)"

if [ $failures -eq 0 ]; then echo "signals: all checks passed"; else echo "signals: $failures failures"; fi
[ $failures -eq 0 ]
