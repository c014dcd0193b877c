#!/bin/bash
# selfex pack and selfex extract beside their peers, on the same input in one
# run:
#   pack:    selfex pack --compression mszip   vs  gcab -c -z        (time, size)
#   extract: selfex extract (a package)         vs  cabextract, 7zz x (the same package)
# The input is BENCH_INPUT_MB megabytes of regular files from /usr (programs,
# libraries, headers, documentation: text, code and already-compressed data),
# copied once into the work folder.
#
# Environment: BUILD_DIR (the Release build, default build/native-release),
# BENCH_WORK (work folder), BENCH_INPUT_MB (default 100), BENCH_RUNS (best
# of, default 3).
# Targets: packing at least as fast as gcab with a size within 1 %
# (selfex/gcab <= 1.01); extraction at least as fast as cabextract.
# Both tools run single-threaded, and the build machine may be shared, so the
# targets are judged on CPU time (user + system); wall times are shown too.
set -eu
cd "$(dirname "$0")/../.."
ROOT=$PWD
BUILD_DIR=${BUILD_DIR:-$ROOT/build/native-release}
SELFEX=$BUILD_DIR/bin/selfex
WORK=${BENCH_WORK:-$BUILD_DIR/bench-pack-extract}
INPUT_MB=${BENCH_INPUT_MB:-100}
RUNS=${BENCH_RUNS:-3}

for tool in gcab cabextract 7zz; do
    command -v $tool >/dev/null || { echo "pack-extract: $tool is not installed"; exit 1; }
done
[ -x "$SELFEX" ] || { echo "pack-extract: $SELFEX not built"; exit 1; }
mkdir -p "$WORK"
cd "$WORK"

# 1. The input tree, made once: files from /usr in a fixed order, names that
#    neither gcab nor the shell would mangle.
if [ ! -f input.done ] || [ "$(cat input.done)" != "$INPUT_MB" ]; then
    echo "copying ${INPUT_MB} MB of files from /usr into $WORK/input ..."
    rm -rf input && mkdir input
    (cd / && find usr/bin usr/lib/x86_64-linux-gnu usr/include usr/share/doc -type f -size -32M 2>/dev/null |
        grep -E '^[A-Za-z0-9_./+-]+$' | LC_ALL=C sort |
        while read -r f; do [ -r "$f" ] && echo "$(stat -c %s "$f") $f"; done |
        awk -v limit=$((INPUT_MB * 1000000)) '{ total += $1; print $2; if (total >= limit) exit }') > files.txt
    (cd / && tar -cf - -T "$WORK/files.txt") | (cd input && tar -xf -)
    echo "$INPUT_MB" > input.done
fi
(cd input && find . -type f | sed 's|^\./||' | LC_ALL=C sort) > relative.txt
echo "input: $(wc -l < relative.txt) files, $(du -sb input | cut -f1) bytes"

# calc EXPRESSION: awk's arithmetic (comparisons give 1 or 0).
calc() { awk "BEGIN { print ($1) }"; }

# best_of LABEL COMMAND...: runs COMMAND RUNS times; prints the best wall and
# CPU seconds and keeps them in WALL and CPU.
best_of() {
    label=$1
    shift
    WALL= CPU=
    for _ in $(seq "$RUNS"); do
        /usr/bin/time -f '%e %U %S' -o timing.txt "$@" >/dev/null 2>&1 || { echo "$label failed"; exit 1; }
        read -r w u s < timing.txt
        c=$(calc "$u + $s")
        [ -z "$WALL" ] || [ "$(calc "$w < $WALL")" = 1 ] && WALL=$w
        [ -z "$CPU" ] || [ "$(calc "$c < $CPU")" = 1 ] && CPU=$c
    done
    printf '  %-34s wall %7.2f s   cpu %7.2f s\n' "$label" "$WALL" "$CPU"
}
ratio() { awk "BEGIN { printf \"%.2f\", $1 / $2 }"; }
status=0

# 2. Packing.
echo "pack (best of $RUNS):"
best_of "selfex pack --compression mszip" "$SELFEX" pack -o selfex.cab --compression mszip input
SELFEX_WALL=$WALL SELFEX_CPU=$CPU
best_of "gcab -c -z" sh -c 'cd input && xargs -d "\n" gcab -c -z ../gcab.cab < ../relative.txt'
GCAB_WALL=$WALL GCAB_CPU=$CPU
SELFEX_SIZE=$(stat -c %s selfex.cab)
GCAB_SIZE=$(stat -c %s gcab.cab)
SPEED=$(ratio "$GCAB_CPU" "$SELFEX_CPU")
SIZE=$(awk "BEGIN { printf \"%.4f\", $SELFEX_SIZE / $GCAB_SIZE }")
echo "  sizes: selfex $SELFEX_SIZE bytes, gcab $GCAB_SIZE bytes (selfex/gcab $SIZE)"
echo "  speed: selfex is ${SPEED}x gcab by cpu time, $(ratio "$GCAB_WALL" "$SELFEX_WALL")x by wall time"
[ "$(calc "$SPEED >= 1.0")" = 1 ] || { echo "  MISSED: packing slower than gcab"; status=1; }
[ "$(calc "$SIZE <= 1.01")" = 1 ] || { echo "  MISSED: package more than 1 % larger than gcab's"; status=1; }

# 3. Extraction of one package, whose cabinet sits behind a 160000-byte stub
#    (the shipped stub when it is staged, else filler: the stub is not read).
STUB=$ROOT/dist/stub/selfex-stub-x86.exe
[ -f "$STUB" ] || { head -c 1000 /dev/zero > filler-stub.bin; STUB=$WORK/filler-stub.bin; }
"$SELFEX" pack -o package.exe --stub "$STUB" input >/dev/null
echo "extract package.exe, $(stat -c %s package.exe) bytes (best of $RUNS):"
best_of "selfex extract" sh -c "rm -rf out-selfex && '$SELFEX' extract -d out-selfex package.exe"
SELFEX_WALL=$WALL SELFEX_CPU=$CPU
best_of "cabextract" sh -c 'rm -rf out-cabextract && cabextract -q -d out-cabextract package.exe'
CAB_WALL=$WALL CAB_CPU=$CPU
best_of "7zz x" sh -c 'rm -rf out-7zz && 7zz x -y -bd -oout-7zz package.exe'
for d in out-selfex out-cabextract out-7zz; do
    diff -r input "$d" >/dev/null || { echo "  $d differs from the input"; status=1; }
done
SPEED=$(ratio "$CAB_CPU" "$SELFEX_CPU")
echo "  speed: selfex is ${SPEED}x cabextract by cpu time, $(ratio "$CAB_WALL" "$SELFEX_WALL")x by wall time;" \
     "$(ratio "$CPU" "$SELFEX_CPU")x 7zz by cpu time"
[ "$(calc "$SPEED >= 1.0")" = 1 ] || { echo "  MISSED: extraction slower than cabextract"; status=1; }
rm -rf out-selfex out-cabextract out-7zz

[ $status = 0 ] && echo "pack-extract: all targets met"
exit $status
