#!/bin/bash
# Whole processes as users run them, beside their peers on the same inputs in
# the same run: selfex extract/test, cabextract -d/-t, 7zz x/t, and the stub
# under wine64 beside Wine's extrac32. Every contender of a case takes its
# turn in every round, so all meet the same machine load; each figure is the
# median wall time of BENCH_RUNS rounds, with the spread (fastest-slowest)
# and the median CPU time (user + system) beside it. Ratios are the peer's
# median over ours: above 1 means we are faster.
#
# Cases (inputs are made once and kept in the work folder):
#   mszip      binaries and libraries from /usr, one gcab -z cabinet
#   lzx21      the same files, LZX:21 with the x86 call filter (selfex pack)
#   small      headers from /usr/include, one gcab -z cabinet, extracted to disk
#   multi      part of the binaries packed by selfex into at least 8 folders;
#              also selfex pack -j 1 beside -j N on the first BENCH_PACK_MB
#   stub       a package of small files run under wine64 from Enter to exit,
#              beside "wine64 extrac32 /e /l DIR" on the same cabinet; and
#              the same less the 1.05 s the progress dialog waits by design,
#              which is the figure judged against the target
# A second table gives the in-process FDI decoders' own figures (fdi_bench,
# fdi_lzx_bench) on the mszip and lzx21 cabinets.
#
# Environment:
#   BUILD_DIR          Release build (default build/native-release)
#   STUB_BUILD_DIR     build holding bin/selfex-stub.exe (default build/mingw-x64)
#   BENCH_WORK         work folder (default $BUILD_DIR/bench-whole)
#   BENCH_OUT          where mszip, lzx21 and multi extract (default a tmpfs
#                      folder under /dev/shm when there is one)
#   BENCH_WHOLE_MB     megabytes of binaries for mszip and lzx21 (default 1100)
#   BENCH_MULTI_MB     megabytes for multi (default 400)
#   BENCH_PACK_MB      megabytes multi packs, 8 folders (default 200, at most
#                      BENCH_MULTI_MB)
#   BENCH_SMALL_FILES  headers for small (default 8000)
#   BENCH_STUB_FILES   files in the stub's package (default 2000)
#   BENCH_RUNS         rounds (default 5)
#   BENCH_CASES        the cases to run (default "mszip lzx21 small multi stub")
# A quick run: BENCH_WHOLE_MB=60 BENCH_MULTI_MB=40 BENCH_PACK_MB=20 BENCH_SMALL_FILES=500
# BENCH_STUB_FILES=200 BENCH_RUNS=3.
#
# Exits 1 when a target is missed, or a case could not run.
set -eu
cd "$(dirname "$0")/../.."
ROOT=$PWD
BUILD_DIR=${BUILD_DIR:-$ROOT/build/native-release}
STUB_BUILD_DIR=${STUB_BUILD_DIR:-$ROOT/build/mingw-x64}
WORK=${BENCH_WORK:-$BUILD_DIR/bench-whole}
WHOLE_MB=${BENCH_WHOLE_MB:-1100}
MULTI_MB=${BENCH_MULTI_MB:-400}
PACK_MB=${BENCH_PACK_MB:-200}
[ "$PACK_MB" -le "$MULTI_MB" ] || PACK_MB=$MULTI_MB
SMALL_FILES=${BENCH_SMALL_FILES:-8000}
STUB_FILES=${BENCH_STUB_FILES:-2000}
RUNS=${BENCH_RUNS:-5}
CASES=${BENCH_CASES:-mszip lzx21 small multi stub}
if [ -z "${BENCH_OUT:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    BENCH_OUT=/dev/shm/selfex-bench-whole-$$
fi
OUT=${BENCH_OUT:-$WORK/out}
BIN=$BUILD_DIR/bin
SELFEX=$BIN/selfex
STUB=$STUB_BUILD_DIR/bin/selfex-stub.exe
CORES=$(nproc)

for tool in gcab cabextract 7zz; do
    command -v $tool >/dev/null || { echo "whole: $tool is not installed"; exit 1; }
done
for program in "$SELFEX" "$BIN/fdi_bench" "$BIN/fdi_lzx_bench"; do
    [ -x "$program" ] || { echo "whole: $program is not built"; exit 1; }
done
mkdir -p "$WORK" "$OUT"
cleanup() {
    set +e
    # A case that broke off still leaves the figures of those before it.
    [ -n "$TABLES_SHOWN" ] || ! declare -F print_tables >/dev/null || print_tables
    rm -rf "$OUT"
    # The resident Wine server and the X server go with the run.
    if [ -n "${WINEPREFIX:-}" ]; then wp_cleanup; fi
}
TABLES_SHOWN=
trap cleanup EXIT
echo "load before: $(uptime | sed 's/.*load average: //')"

# ---- Timing. Each measurement lands in W[key] and C[key] as a list.
declare -A W C
# run KEY COMMAND...: one timed run of COMMAND, output discarded.
run() {
    local key=$1 line
    shift
    line=$({ TIMEFORMAT='%3R %3U %3S'; time "$@" >/dev/null 2>&1; } 2>&1) || { echo "whole: failed: $*" >&2; return 1; }
    set -- $line
    W[$key]+="$1 "
    C[$key]+="$(awk -v u="$2" -v s="$3" 'BEGIN { print u + s }') "
}
# stat_of LIST: "median fastest slowest" of the numbers in LIST.
stat_of() {
    echo "$1" | tr ' ' '\n' | grep . | sort -g | awk '{ a[NR] = $1 } END {
        m = NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2; print m, a[1], a[NR] }'
}
median() { set -- $(stat_of "$1"); echo "$1"; }

DETAILS=""
SUMMARY=""
status=0
# report CASE KEY...: a line per contender for the details table.
report() {
    local case=$1 key
    shift
    for key in "$@"; do
        [ -n "${W[$key]:-}" ] || continue
        set -- $(stat_of "${W[$key]}")
        DETAILS+=$(printf '%-7s %-26s %9.3f  %8.3f-%-8.3f %9.3f' "$case" "$key" "$1" "$2" "$3" "$(median "${C[$key]}")")$'\n'
    done
}
# judge LABEL OURS PEER TARGET: the ratio of the peer's median to ours beside
# its target ("-" for none), for the summary.
judge() {
    local label=$1 ours=$2 peer=$3 target=$4 ratio verdict
    ratio=$(awk -v o="$(median "${W[$ours]}")" -v p="$(median "${W[$peer]}")" 'BEGIN { printf "%.2f", p / o }')
    if [ "$target" = - ]; then
        verdict=""
    elif awk -v r="$ratio" -v t="$target" 'BEGIN { exit !(r >= t) }'; then
        verdict=ok
    else
        verdict=MISSED
        status=1
    fi
    SUMMARY+=$(printf '%-44s %-22s %6s  %-6s %s' "$label" "${peer#* }" "$ratio" "${target/#-/}" "$verdict")$'\n'
}
missed() {
    SUMMARY+=$(printf '%-44s %-22s %6s  %-6s %s' "$1" "" "" "$2" "MISSED: $3")$'\n'
    status=1
}
warm() { cat "$@" >/dev/null; }
fresh() { rm -rf "$OUT/x"; }

# ---- Inputs.
# pick MB ROOTS...: regular files under ROOTS (relative to /) in a fixed
# order, names neither gcab nor the shell would mangle, until MB megabytes.
pick() {
    local mb=$1
    shift
    (cd / && find "$@" -type f -size -64M 2>/dev/null | grep -E '^[A-Za-z0-9_./+-]+$' | LC_ALL=C sort |
        while read -r f; do [ -r "$f" ] && echo "$(stat -c %s "$f") $f"; done |
        awk -v limit=$((mb * 1000000)) '{ total += $1; print $2; if (total >= limit) exit }')
}
# made NAME KEY: true when NAME was made from inputs described by KEY.
made() { [ -f "$WORK/$1" ] && [ "$(cat "$WORK/$1.key" 2>/dev/null)" = "$2" ]; }
done_making() { echo "$2" > "$WORK/$1.key"; }

# gcab_all CABINET LIST: one gcab -z call for every file of LIST (xargs
# would split a long list into calls that each rewrite the cabinet). The
# names hold no blanks, so plain word splitting is safe.
gcab_all() {
    local cabinet=$1 list=$2
    case $cabinet in /*) ;; *) echo "whole: $cabinet is not an absolute path" >&2; return 1 ;; esac
    (cd / && set -- $(cat "$list") && gcab -c -z "$cabinet" "$@") >/dev/null
}

# link_tree DIR: DIR afresh, with a link to each file named on standard input
# (relative to /) at the same path inside it.
link_tree() {
    local file
    rm -rf "$1"
    while read -r file; do
        mkdir -p "$1/$(dirname "$file")" && ln -s "/$file" "$1/$file"
    done
}

binaries() {
    made binaries.txt "$WHOLE_MB" && return 0
    pick "$WHOLE_MB" usr/bin usr/lib/x86_64-linux-gnu > "$WORK/binaries.txt"
    done_making binaries.txt "$WHOLE_MB"
}

# ---- Cases.
# Decoding and extracting one cabinet: ours, both peers, and the in-process
# decoder (FDI_BENCH) as a process of its own. Each round's extractions start
# without the previous round's output.
archive_case() {
    local case=$1 cab=$2 fdi=$3 round
    warm "$cab"
    "$SELFEX" test "$cab" >/dev/null || { missed "$case: selfex test" - "does not decode"; return 0; }
    for round in $(seq "$RUNS"); do
        run "$case fdi in-process" "$BIN/$fdi" "$cab" 1
        run "$case selfex test" "$SELFEX" test "$cab"
        run "$case 7zz t" 7zz t -bd "$cab"
        run "$case cabextract -t" cabextract -q -t "$cab"
        fresh; run "$case selfex extract" "$SELFEX" extract -d "$OUT/x" "$cab"
        fresh; run "$case 7zz x" 7zz x -y -bd -o"$OUT/x" "$cab"
        fresh; run "$case cabextract -d" cabextract -q -d "$OUT/x" "$cab"
        fresh
    done
    report "$case" "$case fdi in-process" "$case selfex test" "$case 7zz t" "$case cabextract -t" \
        "$case selfex extract" "$case 7zz x" "$case cabextract -d"
}

case_mszip() {
    binaries
    if ! made mszip.cab "$WHOLE_MB"; then
        echo "mszip: packing ${WHOLE_MB} MB with gcab -z ..."
        gcab_all "$WORK/mszip.tmp" "$WORK/binaries.txt"
        mv "$WORK/mszip.tmp" "$WORK/mszip.cab"
        done_making mszip.cab "$WHOLE_MB"
    fi
    archive_case mszip "$WORK/mszip.cab" fdi_bench
    judge "mszip: selfex test, within 5% of in-process" "mszip selfex test" "mszip fdi in-process" 0.95
    judge "mszip: selfex test" "mszip selfex test" "mszip 7zz t" -
    judge "mszip: selfex test" "mszip selfex test" "mszip cabextract -t" -
    judge "mszip: selfex extract" "mszip selfex extract" "mszip 7zz x" -
    judge "mszip: selfex extract" "mszip selfex extract" "mszip cabextract -d" -
    one_folder_parallel "$WORK/mszip.cab"
}

case_lzx21() {
    binaries
    if ! made lzx21.cab "$WHOLE_MB"; then
        echo "lzx21: packing ${WHOLE_MB} MB with selfex pack --compression lzx:21 ..."
        # A tree of links to the binaries keeps their paths apart (two
        # folders may hold the same name); pack stores what they lead to.
        link_tree "$WORK/lzx21-links" < "$WORK/binaries.txt"
        # One folder, as gcab makes for mszip: these cases compare single runs.
        "$SELFEX" pack -q -o "$WORK/lzx21.tmp.cab" --compression lzx:21 --folder-size 2147450880 \
            --links follow "$WORK/lzx21-links"
        rm -rf "$WORK/lzx21-links"
        mv "$WORK/lzx21.tmp.cab" "$WORK/lzx21.cab"
        done_making lzx21.cab "$WHOLE_MB"
    fi
    archive_case lzx21 "$WORK/lzx21.cab" fdi_lzx_bench
    judge "lzx21: selfex test" "lzx21 selfex test" "lzx21 7zz t" 1.2
    judge "lzx21: selfex extract" "lzx21 selfex extract" "lzx21 7zz x" 1.2
    judge "lzx21: selfex test, within 5% of in-process" "lzx21 selfex test" "lzx21 fdi in-process" 0.95
    judge "lzx21: selfex test" "lzx21 selfex test" "lzx21 cabextract -t" -
    judge "lzx21: selfex extract" "lzx21 selfex extract" "lzx21 cabextract -d" -
}

# Many small files, extracted to disk (not tmpfs): file creation and
# metadata dominate.
case_small() {
    local round disk=$WORK/small-out
    if ! made small.cab "$SMALL_FILES one-case"; then
        (cd / && find usr/include -type f | grep -E '^[A-Za-z0-9_./+-]+$' | LC_ALL=C sort |
            awk '!seen[tolower($0)]++' | head -n "$SMALL_FILES") \
            > "$WORK/small.txt"
        gcab_all "$WORK/small.tmp" "$WORK/small.txt"
        mv "$WORK/small.tmp" "$WORK/small.cab"
        done_making small.cab "$SMALL_FILES one-case"
    fi
    warm "$WORK/small.cab"
    # Each extraction writes a folder of its own, and all of them are removed
    # after the last round. Into a folder just emptied, every contender's
    # creates would pay for ext4 skipping, on each new inode, the thousands
    # its group freed a moment ago (half of a run's time, whoever extracts).
    # The disk settles before each extraction (sync, untimed), so that the
    # writeback of the last one's files lands on none of them.
    rm -rf "$disk" && mkdir -p "$disk"
    for round in $(seq "$RUNS"); do
        sync; run "small selfex extract" "$SELFEX" extract -d "$disk/$round-selfex" "$WORK/small.cab"
        sync; run "small cabextract -d" cabextract -q -d "$disk/$round-cabextract" "$WORK/small.cab"
        sync; run "small 7zz x" 7zz x -y -bd -o"$disk/$round-7zz" "$WORK/small.cab"
        run "small selfex test" "$SELFEX" test "$WORK/small.cab"
        run "small cabextract -t" cabextract -q -t "$WORK/small.cab"
        run "small 7zz t" 7zz t -bd "$WORK/small.cab"
    done
    rm -rf "$disk"
    report small "small selfex extract" "small cabextract -d" "small 7zz x" "small selfex test" \
        "small cabextract -t" "small 7zz t"
    judge "small: selfex extract" "small selfex extract" "small cabextract -d" 1.2
    judge "small: selfex extract" "small selfex extract" "small 7zz x" -
    judge "small: selfex test" "small selfex test" "small cabextract -t" -
}

# selfex decodes folders in parallel when it has -j.
has_jobs() { "$SELFEX" extract --help 2>&1 | grep -q -- '-j'; }

# The same cabinet with -j 1 and with a worker per core.
parallel_rounds() {
    local case=$1 cab=$2 round
    for round in $(seq "$RUNS"); do
        fresh; run "$case extract -j 1" "$SELFEX" extract -j 1 -d "$OUT/x" "$cab"
        fresh; run "$case extract -j $CORES" "$SELFEX" extract -j "$CORES" -d "$OUT/x" "$cab"
        run "$case test -j 1" "$SELFEX" test -j 1 "$cab"
        run "$case test -j $CORES" "$SELFEX" test -j "$CORES" "$cab"
    done
    fresh
    report "$case" "$case extract -j 1" "$case extract -j $CORES" "$case test -j 1" "$case test -j $CORES"
}

case_multi() {
    local folders
    if ! made multi.cab "$MULTI_MB"; then
        echo "multi: packing ${MULTI_MB} MB into folders of $((MULTI_MB / 8)) MB ..."
        rm -rf "$WORK/multi-input" && mkdir -p "$WORK/multi-input"
        pick "$MULTI_MB" usr/bin usr/lib/x86_64-linux-gnu > "$WORK/multi.txt"
        (cd / && tar -cf - -T "$WORK/multi.txt") | (cd "$WORK/multi-input" && tar -xf -)
        "$SELFEX" pack -o "$WORK/multi.tmp.cab" --folder-size "$((MULTI_MB / 8))M" "$WORK/multi-input" >/dev/null
        rm -rf "$WORK/multi-input"
        mv "$WORK/multi.tmp.cab" "$WORK/multi.cab"
        done_making multi.cab "$MULTI_MB"
    fi
    folders=$(7zz l "$WORK/multi.cab" | sed -n 's/^Blocks = //p')
    echo "multi: ${folders:-?} folders"
    warm "$WORK/multi.cab"
    if ! has_jobs; then
        missed "multi: extract -j $CORES beside -j 1" 1.7 "selfex has no -j"
        return 0
    fi
    parallel_rounds multi "$WORK/multi.cab"
    judge "multi ($folders folders): extract -j $CORES" "multi extract -j $CORES" "multi extract -j 1" 1.7
    judge "multi ($folders folders): test -j $CORES" "multi test -j $CORES" "multi test -j 1" 1.7
    pack_rounds
    judge "multi (8 folders): pack -j $CORES" "multi pack -j $CORES" "multi pack -j 1" 1.7
}

# Packing the first PACK_MB of multi's files into 8 MSZIP folders, with one
# worker and with one per core; the output must be the same bytes.
pack_rounds() {
    local round links=$WORK/pack-links size=$((PACK_MB / 8))M
    pick "$PACK_MB" usr/bin usr/lib/x86_64-linux-gnu | link_tree "$links"
    for round in $(seq "$RUNS"); do
        run "multi pack -j 1" "$SELFEX" pack -q -j 1 -o "$OUT/pack-1.cab" --folder-size "$size" --links follow "$links"
        run "multi pack -j $CORES" "$SELFEX" pack -q -j "$CORES" -o "$OUT/pack-n.cab" --folder-size "$size" \
            --links follow "$links"
    done
    cmp -s "$OUT/pack-1.cab" "$OUT/pack-n.cab" || missed "multi: pack -j $CORES" - "output differs from -j 1"
    rm -rf "$links" "$OUT/pack-1.cab" "$OUT/pack-n.cab"
    report multi "multi pack -j 1" "multi pack -j $CORES"
}

# One folder: parallel decoding must cost nothing. Within 5%: the noise of a
# shared machine is larger than that.
one_folder_parallel() {
    if ! has_jobs; then
        missed "mszip (one folder): extract -j $CORES" 0.95 "selfex has no -j"
        return 0
    fi
    parallel_rounds one-folder "$1"
    judge "mszip (one folder): extract -j $CORES" "one-folder extract -j $CORES" "one-folder extract -j 1" 0.95
}

# The stub's run under Wine: from Enter on its folder dialog to its exit,
# which includes the second the progress dialog stays up after success.
case_stub() {
    local round stage=$WORK/stub-run key
    [ -f "$STUB" ] || { missed "stub: beside extrac32" 0.83 "$STUB is not built"; return 0; }
    for tool in Xvfb xdotool; do
        command -v $tool >/dev/null || { missed "stub: beside extrac32" 0.83 "$tool is not installed"; return 0; }
    done
    . "$ROOT/scripts/wine-package.sh"
    if ! made stub.cab "$STUB_FILES"; then
        rm -rf "$WORK/stub-input" && mkdir -p "$WORK/stub-input"
        # Windows names ignore letter case: one of each such pair only.
        (cd / && find usr/include -type f -size -8k | grep -E '^[A-Za-z0-9_./+-]+$' | LC_ALL=C sort |
            awk '!seen[tolower($0)]++' | head -n "$STUB_FILES") > "$WORK/stub.txt"
        (cd / && tar -cf - -T "$WORK/stub.txt") | (cd "$WORK/stub-input" && tar -xf -)
        # The package and the bare cabinet that extrac32 gets, of the same files.
        "$SELFEX" pack -o "$WORK/stub.tmp.cab" "$WORK/stub-input" >/dev/null
        "$SELFEX" pack -o "$WORK/StubBench.tmp" --stub "$STUB" "$WORK/stub-input" >/dev/null
        rm -rf "$WORK/stub-input"
        mv "$WORK/StubBench.tmp" "$WORK/StubBench.exe"
        mv "$WORK/stub.tmp.cab" "$WORK/stub.cab"
        done_making stub.cab "$STUB_FILES"
    fi
    wp_start_xvfb "$WORK" || { missed "stub: beside extrac32" 0.83 "Xvfb did not start"; return 0; }
    wp_make_prefix "$WORK/wine-prefix" headless
    # A resident Wine server: neither contender pays for its start.
    "$WINESERVER" -p >/dev/null 2>&1
    # A folder of its own for each round's two extractions, all removed at
    # the end (see case_small).
    rm -rf "$stage" && mkdir -p "$stage"
    for round in $(seq "$RUNS"); do
        mkdir -p "$stage/$round/x"
        sync
        wp_start "$WORK/StubBench.exe" "$stage/$round" "$WORK"
        wp_wait 3000 xdotool search --name '^StubBench$' || { missed "stub: beside extrac32" 0.83 "no folder dialog"; return 0; }
        sleep 0.5
        key="stub package"
        stub_round "$key" || { missed "stub: beside extrac32" 0.83 "the package failed"; return 0; }
        wait "$WP_PACKAGE_PID" 2>/dev/null || true
        WP_PACKAGE_PID=
        sync
        run "stub extrac32" "$WINE64" extrac32 /e /l "Z:${stage//\//\\}\\$round\\x" "Z:${WORK//\//\\}\\stub.cab"
        [ "$(find "$stage/$round/StubBench" -type f | wc -l)" = "$(find "$stage/$round/x" -type f | wc -l)" ] ||
            { missed "stub: beside extrac32" 0.83 "the two extracted different file counts"; return 0; }
    done
    rm -rf "$stage"
    report stub "stub package" "stub less its waits" "stub extrac32"
    # The target is the stub's own work: the progress dialog's two set
    # waits, 50 ms before the run and the second it stays up after success,
    # are half of its time and no faster extraction shortens them.
    judge "stub ($STUB_FILES files, wine64): Enter to exit" "stub package" "stub extrac32" -
    judge "stub: the same, less its 1.05 s of set waits" "stub less its waits" "stub extrac32" 0.83
}
# stub_round KEY: Enter on the folder dialog, then the package's end, as
# wp_start notes it (a poll every few ms would take CPU from Wine on a small
# machine, a coarse one would add time). The wall time between them lands in
# W[KEY], and less the waits the dialog makes by design (50 ms before the run,
# the second it stays up after success) in W[stub less its waits]; the CPU
# time of this side (the key press and the waiting) in C of both.
stub_round() {
    local key=$1 start line wall cpu
    start=$(date +%s.%N)
    line=$({ TIMEFORMAT='%3U %3S'; time { xdotool key Return && wp_wait 600 test -s "$WORK/exit"; } >/dev/null 2>&1; } 2>&1)
    [ -s "$WORK/exit" ] && [ "$(cat "$WORK/exit")" = 0 ] || return 1
    wall=$(awk -v a="$start" -v b="$(cat "$WORK/ended")" 'BEGIN { printf "%.3f", b - a }')
    set -- $line
    cpu=$(awk -v u="$1" -v s="$2" 'BEGIN { print u + s }')
    W[$key]+="$wall "
    W["stub less its waits"]+="$(awk -v w="$wall" 'BEGIN { printf "%.3f", w - 1.05 }') "
    C[$key]+="$cpu "
    C["stub less its waits"]+="$cpu "
}

print_tables() {
    TABLES_SHOWN=yes
    echo
    echo "Whole processes: median wall s of $RUNS alternating rounds, spread, median cpu s (user+system)"
    printf '%-7s %-26s %9s  %-17s %9s\n' case contender wall spread cpu
    printf '%s' "$DETAILS"
    echo
    echo "In-process FDI decoding (the decoder benchmarks' own figures, best of one run each round)"
    for cab in mszip lzx21; do
        case " $CASES " in *" $cab "*) ;; *) continue ;; esac
        [ -f "$WORK/$cab.cab" ] || continue
        case $cab in mszip) fdi=fdi_bench ;; *) fdi=fdi_lzx_bench ;; esac
        size=$(stat -c %s "$WORK/$cab.cab")
        rates=""
        for round in $(seq "$RUNS"); do
            rates+="$("$BIN/$fdi" "$WORK/$cab.cab" 1 | awk '{ print $NF }') "
        done
        set -- $(stat_of "$rates")
        printf '%-7s %-14s cabinet %6.0f MB   %7.1f MB/s out (spread %.1f-%.1f)\n' "$cab" "$fdi" "$(awk -v s="$size" 'BEGIN { print s / 1e6 }')" "$1" "$2" "$3"
    done
    echo
    echo "Summary: ratio = the peer's median wall time / ours (above 1: we are faster)"
    printf '%-44s %-22s %6s  %-6s %s\n' "ours" "beside" ratio target verdict
    printf '%s' "$SUMMARY"
    echo "load after: $(uptime | sed 's/.*load average: //')"
}

for c in $CASES; do
    echo "running $c ..."
    "case_$c"
done
print_tables
exit $status
