#!/bin/sh
# LZX throughput of our FDI (fdi_lzx_bench: FDICopy into a discarding sink)
# beside cabextract -t and 7zz t on the same cabinets in the same run, as
# ratios. Every contender runs as a whole process, RUNS times interleaved;
# the best wall time counts (CPU time, user + system, is shown as well:
# these machines are shared, and CPU time is the steadier of the two).
# Small cabinets are decoded 20 or 50 times per measurement, each time by a
# new process, and the times divided.
#
# Inputs:
#   large-files-cab   tests/corpus/large-files-cab.cab, LZX:21, 14.7 MB out
#   lzx15-2gb         its inner large-files.cab (made here with cabextract),
#   lzx21-2gb         one 2 GiB file each of its LZX:15 and LZX:21 folders
#                     (one repeated text line: match copying, window wrap)
#   usr-binaries      BENCH_INPUT_MB MB of /usr binaries and libraries packed
#                     by selfex pack --compression lzx (LZX:21, the x86 call
#                     filter on; built once, checked with cabextract -t)
#   pymspack-000      tests/corpus/pymspack-000.cab, the largest real-binary
#                     LZX cabinet of the corpus (67 KB out: process start-up
#                     dominates; shown, not judged)
# cabextract -t also computes an MD5 of every file; 7zz t and ours only
# decode.
#
# Environment: BUILD_DIR (the Release build, default build/native-release),
# BENCH_WORK (work folder), BENCH_INPUT_MB (default 150), BENCH_RUNS
# (default 5). Targets: ours >= 1.5x cabextract and >= 1.0x 7zz.
set -eu
cd "$(dirname "$0")/../.."
ROOT=$PWD
BUILD_DIR=${BUILD_DIR:-$ROOT/build/native-release}
BENCH=$BUILD_DIR/bin/fdi_lzx_bench
SELFEX=$BUILD_DIR/bin/selfex
WORK=${BENCH_WORK:-$BUILD_DIR/bench-fdi-lzx}
INPUT_MB=${BENCH_INPUT_MB:-150}
RUNS=${BENCH_RUNS:-5}
CORPUS=$ROOT/tests/corpus

for tool in cabextract 7zz; do
  command -v $tool >/dev/null || { echo "fdi-lzx: $tool is not installed"; exit 1; }
done
for program in "$BENCH" "$SELFEX"; do
  [ -x "$program" ] || { echo "fdi-lzx: $program not built"; exit 1; }
done
mkdir -p "$WORK"

# 1. Inputs made once and kept in the work folder.
if [ ! -f "$WORK/large-files.cab" ]; then
  echo "extracting the inner large-files.cab ..."
  cabextract -q -d "$WORK" "$CORPUS/large-files-cab.cab"
fi
if [ ! -f "$WORK/usr-binaries.cab" ]; then
  echo "packing ${INPUT_MB} MB of /usr binaries into $WORK/usr-binaries.cab ..."
  (cd / && find usr/bin usr/lib/x86_64-linux-gnu -type f -size -64M 2>/dev/null \
     | grep -E '^[A-Za-z0-9_./+-]+$' | LC_ALL=C sort \
     | while read -r f; do [ -r "$f" ] && echo "$(stat -c %s "$f") /$f"; done \
     | awk -v limit=$((INPUT_MB * 1000000)) '{ total += $1; print $2; if (total >= limit) exit }') \
     > "$WORK/usr-files.txt"
  rm -rf "$WORK/usr-files" && mkdir "$WORK/usr-files"
  tar -cf - -T "$WORK/usr-files.txt" 2>/dev/null | (cd "$WORK/usr-files" && tar -xf -)
  "$SELFEX" pack -o "$WORK/usr-binaries.tmp.cab" --compression lzx "$WORK/usr-files" >/dev/null
  rm -rf "$WORK/usr-files"
  cabextract -q -t "$WORK/usr-binaries.tmp.cab" >/dev/null || { echo "fdi-lzx: the packed cabinet does not decode"; exit 1; }
  mv "$WORK/usr-binaries.tmp.cab" "$WORK/usr-binaries.cab"
fi

# 2. Timing: "cpu wall" of REPS process runs in a row (small inputs are
#    repeated so that a measurement lasts long enough for the clock).
REPS=1
timed() {
  /usr/bin/time -o "$WORK/time.txt" -f "%U %S %e" sh -c \
    'i=0; while [ $i -lt '"$REPS"' ]; do "$@" >/dev/null 2>&1 || exit 1; i=$((i + 1)); done' sh "$@" \
    || { echo "failed: $*" >&2; return 1; }
  awk -v reps="$REPS" '{ printf "%.4f %.4f\n", ($1 + $2) / reps, $3 / reps }' "$WORK/time.txt"
}
min() { echo "$1 $2" | awk '{ print ($1 < $2 ? $1 : $2) }'; }
ratio() { echo "$1 $2" | awk '{ printf "%.2f", $2 / $1 }'; } # their time / ours = our speed / theirs
rate() { echo "$1 $2" | awk '{ printf "%.0f", $1 / $2 / 1e6 }'; }
verdict() { echo "$1 $2" | awk '{ print ($1 >= $2 ? "ok" : "BELOW TARGET") }'; }

# bench LABEL REPS CABINET [FILE] [judged]
status=0
bench() {
  label=$1 REPS=$2 cab=$3 file=${4:-} judged=${5:-yes}
  cat "$cab" >/dev/null # warm the page cache for every contender
  bytes=$("$BENCH" "$cab" 1 $file | awk '{ print $1 }')
  oc=999 ow=999 cc=999 cw=999 zc=999 zw=999
  i=0
  while [ $i -lt "$RUNS" ]; do
    set -- $(timed "$BENCH" "$cab" 1 $file); oc=$(min "$1" $oc); ow=$(min "$2" $ow)
    if [ -n "$file" ]; then
      set -- $(timed cabextract -q -t -F "$file" "$cab")
    else
      set -- $(timed cabextract -q -t "$cab")
    fi
    cc=$(min "$1" $cc); cw=$(min "$2" $cw)
    set -- $(timed 7zz t -bd "$cab" $file); zc=$(min "$1" $zc); zw=$(min "$2" $zw)
    i=$((i + 1))
  done
  echo "$label: $(echo "$bytes" | awk '{ printf "%.1f", $1 / 1e6 }') MB out; wall s: ours $ow, cabextract -t $cw, 7zz t $zw;" \
       "MB/s: ours $(rate "$bytes" "$ow"), cabextract $(rate "$bytes" "$cw"), 7zz $(rate "$bytes" "$zw")"
  echo "  ours/cabextract $(ratio "$ow" "$cw") (cpu $(ratio "$oc" "$cc")), ours/7zz $(ratio "$ow" "$zw") (cpu $(ratio "$oc" "$zc"))"
  if [ "$judged" = yes ]; then
    c=$(verdict "$(ratio "$ow" "$cw")" 1.5) z=$(verdict "$(ratio "$ow" "$zw")" 1.0)
    echo "  target ours/cabextract >= 1.5: $c; ours/7zz >= 1.0: $z"
    [ "$c" = ok ] && [ "$z" = ok ] || status=1
  fi
}

bench large-files-cab 20 "$CORPUS/large-files-cab.cab"
bench lzx15-2gb 1 "$WORK/large-files.cab" lzx15-2gb.txt
bench lzx21-2gb 1 "$WORK/large-files.cab" lzx21-2gb.txt
bench usr-binaries 1 "$WORK/usr-binaries.cab"
bench pymspack-000 50 "$CORPUS/pymspack-000.cab" "" no
exit $status
