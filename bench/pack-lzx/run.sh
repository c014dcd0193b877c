#!/bin/bash
# selfex pack --compression lzx beside gcab's MSZIP, and xz -6 as a floor,
# on the same ~1 GB of real binaries, in one run:
#   gcab -c -z                          MSZIP, the cabinet Linux tools write today
#   selfex pack --compression lzx       the default level
#   selfex pack --compression lzx --best
#   xz -6 of a tar of the same files    size only: what a modern LZ coder reaches
# The input is every regular file of /usr/bin and /usr/lib (sorted by path,
# names that neither gcab nor the shell would mangle, each below 64 MB) up to
# BENCH_INPUT_MB megabytes, copied once into the work folder; the same on
# every run on one machine.
#
# Timing: gcab and the default level alternate BENCH_RUNS times, --best runs
# BENCH_BEST_RUNS times; medians count, and the spread (slowest over fastest)
# shows how noisy the runs were. Speeds are input megabytes (10^6 bytes) per
# second of CPU time (user + system: one core's work, as both tools run on
# one thread) and of wall time. The machine's load average is shown before
# and after: above 0.5, other work skews the wall times.
#
# The default level's cabinet is then decoded by cabextract -t, 7zz t, selfex
# test (our decoder) and, when the Windows build and wine64 are there,
# selfex.exe test under Wine (Wine's Cabinet.dll).
#
# Targets: default level <= 0.85x gcab's size and >= 8 MB/s of CPU time;
# --best <= 0.82x gcab's size. Exits 1 when one is missed or a decoder fails.
#
# Environment: BUILD_DIR (the Release build, default build/native-release),
# WINDOWS_BUILD_DIR (default build/mingw-x64), BENCH_WORK (work folder),
# BENCH_INPUT_MB (default 1000), BENCH_RUNS (default 3), BENCH_BEST_RUNS
# (default 1).
set -eu
cd "$(dirname "$0")/../.."
ROOT=$PWD
BUILD_DIR=${BUILD_DIR:-$ROOT/build/native-release}
WINDOWS_BUILD_DIR=${WINDOWS_BUILD_DIR:-$ROOT/build/mingw-x64}
SELFEX=$BUILD_DIR/bin/selfex
WORK=${BENCH_WORK:-$BUILD_DIR/bench-pack-lzx}
INPUT_MB=${BENCH_INPUT_MB:-1000}
RUNS=${BENCH_RUNS:-3}
BEST_RUNS=${BENCH_BEST_RUNS:-1}

for tool in gcab xz cabextract 7zz tar; do
    command -v $tool >/dev/null || { echo "pack-lzx: $tool is not installed"; exit 1; }
done
[ -x "$SELFEX" ] || { echo "pack-lzx: $SELFEX not built"; exit 1; }
mkdir -p "$WORK"
cd "$WORK"

# 1. The input tree, made once.
if [ ! -f input.done ] || [ "$(cat input.done)" != "$INPUT_MB" ]; then
    echo "copying ${INPUT_MB} MB of files from /usr/bin and /usr/lib into $WORK/input ..."
    rm -rf input xz-size.txt && mkdir input
    (cd / && find usr/bin usr/lib -type f -size -64M 2>/dev/null | grep -E '^[A-Za-z0-9_./+-]+$' | LC_ALL=C sort |
        while read -r f; do [ -r "$f" ] && echo "$(stat -c %s "$f") $f"; done |
        awk -v limit=$((INPUT_MB * 1000000)) '{ total += $1; print $2; if (total >= limit) exit }') > files.txt
    (cd / && tar -cf - -T "$WORK/files.txt") | (cd input && tar -xf -)
    echo "$INPUT_MB" > input.done
fi
(cd input && find . -type f | sed 's|^\./||' | LC_ALL=C sort) > relative.txt
FILES=$(wc -l < relative.txt)
INPUT_BYTES=$(find input -type f -printf '%s\n' | awk '{ total += $1 } END { print total }')
echo "input: $FILES files, $INPUT_BYTES bytes; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

calc() { awk "BEGIN { print ($1) }"; }
median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
spread() { tr ' ' '\n' | grep . | sort -g | awk 'NR == 1 { lo = $1 } { hi = $1 } END { printf "%.0f", (hi / lo - 1) * 100 }'; }

# timed NAME COMMAND...: one run; appends its wall and CPU seconds to
# WALL_NAME and CPU_NAME.
timed() {
    name=$1
    shift
    /usr/bin/time -f '%e %U %S' -o timing.txt "$@" >/dev/null 2>&1 || { echo "pack-lzx: $name failed"; exit 1; }
    read -r w u s < timing.txt
    eval "WALL_$name=\"\${WALL_$name:-} $w\"; CPU_$name=\"\${CPU_$name:-} $(calc "$u + $s")\""
}

# 2. Packing: gcab and the default level alternate, then --best. gcab gets
#    every name in one run (xargs would otherwise split the list and start
#    gcab again, which replaces the cabinet).
for i in $(seq "$RUNS"); do
    echo "run $i of $RUNS ..."
    timed gcab sh -c 'cd input && xargs -s 2000000 -d "\n" gcab -c -z ../gcab.cab < ../relative.txt'
    timed lzx "$SELFEX" pack -o lzx.cab --compression lzx input
done
for i in $(seq "$BEST_RUNS"); do
    timed best "$SELFEX" pack -o best.cab --compression lzx --best input
done
[ "$(gcab -l gcab.cab | wc -l)" = "$FILES" ] || { echo "pack-lzx: gcab.cab does not hold every file"; exit 1; }

# 3. The floor, once per input: xz -6 of a tar of the same files.
if [ ! -f xz-size.txt ]; then
    echo "xz -6 of the input (once) ..."
    tar --hard-dereference -cf - -C input -T relative.txt | xz -6 -T1 -c | wc -c > xz-size.txt
fi

# 4. The table.
GCAB_SIZE=$(stat -c %s gcab.cab)
status=0
row() { # LABEL SIZE NAME|- [MAX_RATIO]
    ratio=$(calc "$2 / $GCAB_SIZE")
    if [ "$3" = - ]; then
        printf '%-28s %12s  %6.3f  %26s' "$1" "$2" "$ratio" "(size only)"
    else
        eval "walls=\$WALL_$3 cpus=\$CPU_$3"
        wall=$(echo "$walls" | median) cpu=$(echo "$cpus" | median)
        printf '%-28s %12s  %6.3f  %7.2f %7.2f  %4s%% %4s%%' "$1" "$2" "$ratio" \
            "$(calc "$INPUT_BYTES / 1e6 / $cpu")" "$(calc "$INPUT_BYTES / 1e6 / $wall")" \
            "$(echo "$cpus" | spread)" "$(echo "$walls" | spread)"
    fi
    if [ $# -gt 3 ]; then
        if [ "$(calc "$ratio <= $4")" = 1 ]; then printf '  size ok (<= %s)' "$4"; else printf '  SIZE MISSED (> %s)' "$4"; status=1; fi
    fi
    echo
}
echo
printf '%-28s %12s  %6s  %7s %7s  %5s %5s\n' "" "bytes" "x gcab" "MB/s" "MB/s" "cpu" "wall"
printf '%-28s %12s  %6s  %7s %7s  %5s %5s\n' "" "" "" "cpu" "wall" "spread" ""
printf '%-28s %12s\n' "input" "$INPUT_BYTES"
row "gcab -c -z (MSZIP)" "$GCAB_SIZE" gcab
row "selfex lzx (default level)" "$(stat -c %s lzx.cab)" lzx 0.85
row "selfex lzx --best" "$(stat -c %s best.cab)" best 0.82
row "xz -6 (tar, the floor)" "$(cat xz-size.txt)" -
SPEED=$(calc "$INPUT_BYTES / 1e6 / $(echo "$CPU_lzx" | median)")
if [ "$(calc "$SPEED >= 8")" = 1 ]; then
    echo "default level: $SPEED MB/s of CPU time, target >= 8: ok"
else
    echo "default level: $SPEED MB/s of CPU time, target >= 8: MISSED"
    status=1
fi
echo "runs: $RUNS (gcab, default level), $BEST_RUNS (--best); medians;" \
     "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

# 5. Every decoder reads the default level's cabinet back; two check --best's.
echo "decoding lzx.cab and best.cab ..."
cabextract -q -t best.cab >/dev/null 2>&1 || { echo "  cabextract -t best.cab: FAILED"; status=1; }
"$SELFEX" test best.cab >/dev/null || { echo "  selfex test best.cab: FAILED"; status=1; }
cabextract -q -t lzx.cab >/dev/null 2>&1 || { echo "  cabextract -t: FAILED"; status=1; }
7zz t lzx.cab >/dev/null 2>&1 || { echo "  7zz t: FAILED"; status=1; }
"$SELFEX" test lzx.cab >/dev/null || { echo "  selfex test: FAILED"; status=1; }
rm -rf out && "$SELFEX" extract -d out lzx.cab && diff -r input out >/dev/null || { echo "  selfex extract: FAILED"; status=1; }
rm -rf out
WINE64=${WINE64:-$(command -v wine64 || { [ -x /usr/lib/wine/wine64 ] && echo /usr/lib/wine/wine64; } || true)}
if [ -n "$WINE64" ] && [ -f "$WINDOWS_BUILD_DIR/bin/selfex.exe" ]; then
    export WINEPREFIX=$WORK/wine-prefix WINEDEBUG=-all
    "$WINE64" "$WINDOWS_BUILD_DIR/bin/selfex.exe" test "Z:$(echo "$WORK/lzx.cab" | tr / '\\')" >/dev/null 2>&1 ||
        { echo "  selfex.exe test under Wine: FAILED"; status=1; }
else
    echo "  (no $WINDOWS_BUILD_DIR/bin/selfex.exe or wine64: Wine's Cabinet.dll not tried)"
fi
[ $status = 0 ] && echo "pack-lzx: all targets met, every decoder agrees"
exit $status
