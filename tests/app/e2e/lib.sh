# Shared steps of the stub's end-to-end scenarios; sourced by run.sh.
#
# Environment (set by CTest): E2E_DIR (this suite's folder in the build tree),
# E2E_BIN (the build's bin/ with selfex-stub.exe and e2e_probe.exe),
# E2E_PLANTED (the planted DLLs), WINE64, WINESERVER, PYTHON3.
#
# Every scenario runs alone (a lock), in its own folder E2E_DIR/work/NAME, on
# its own X server, in the suite's Wine prefix E2E_DIR/prefix, which is made
# once: Wine draws the window frames itself there (no window manager runs),
# and Documents points into E2E_DIR/home. Screenshots go to
# E2E_DIR/screenshots.

set -eu

SOURCE_DIR=$(cd "$(dirname "$0")" && pwd)
# The polling and X server helpers the demo uses too.
. "$SOURCE_DIR/../../../scripts/wine-package.sh"
PREFIX=$E2E_DIR/prefix
WORK=$E2E_DIR/work/$SCENARIO
SHOTS=$E2E_DIR/screenshots
STUB=$E2E_BIN/selfex-stub.exe
PROBE=$E2E_BIN/e2e_probe.exe
CABINET_OFFSET=160000
# Stored times are local times; one zone for gcab, Wine and the checks.
export TZ=UTC WINEPREFIX=$PREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
XVFB_PID=
STUB_PID=

fail() {
    printf 'FAIL [%s]: %s\n' "$SCENARIO" "$*" >&2
    exit 1
}

note() {
    echo "-- $*"
}

# The Windows name of a path of this machine (Wine's drive Z: is /).
winpath() {
    printf 'Z:%s' "$1" | tr / '\\'
}

probe() {
    "$WINE64" "$PROBE" "$@" | tr -d '\r'
}

# wait_until TENTHS WHAT COMMAND...: polls COMMAND every tenth of a second
# until it succeeds; after TENTHS tries the scenario fails with WHAT.
wait_until() {
    tries=$1
    what=$2
    shift 2
    wp_wait "$tries" "$@" || fail "$what"
}

cleanup() {
    status=$?
    set +e
    "$WINESERVER" -k >/dev/null 2>&1
    [ -n "$STUB_PID" ] && wait "$STUB_PID" 2>/dev/null
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
    rm -f "$PREFIX/dosdevices/r:"
    [ $status -eq 0 ] && echo "PASS [$SCENARIO]"
    exit $status
}

# Waits for this suite's lock, then makes the Wine prefix if there is none.
begin() {
    mkdir -p "$E2E_DIR" "$SHOTS"
    exec 9>"$E2E_DIR/e2e.lock"
    flock -w 900 9 || fail "another scenario holds the lock"
    trap cleanup EXIT
    trap 'exit 1' INT TERM
    rm -rf "$WORK"
    mkdir -p "$WORK"
    if [ ! -f "$PREFIX/.selfex-ready" ]; then
        note "making the Wine prefix"
        rm -rf "$PREFIX" "$E2E_DIR/home"
        mkdir -p "$E2E_DIR/home"
        HOME=$E2E_DIR/home "$WINE64" wineboot -i >/dev/null 2>&1
        # No window manager: Wine draws caption, frame and close box itself.
        "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
        "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
        "$WINESERVER" -w
        touch "$PREFIX/.selfex-ready"
    fi
    start_display
}

start_display() {
    wp_start_xvfb "$WORK" || fail "Xvfb did not start"
    XVFB_PID=$WP_XVFB_PID
}

# The source tree that most packages hold, every file stamped 2020-01-02
# 03:04:06. readme.txt is first and data/deep/note.txt last, so the status
# line ends on "note.txt"; big.bin spans several data blocks.
SOURCE_FILES="readme.txt hidden.txt readonly.txt data/big.bin data/deep/note.txt"
FILE_COUNT=5
STAMP='2020-01-02 03:04:06'
make_sources() {
    src=$WORK/src
    mkdir -p "$src/data/deep"
    echo "Read me first." >"$src/readme.txt"
    echo "Nobody sees me." >"$src/hidden.txt"
    echo "Look, don't touch." >"$src/readonly.txt"
    head -c 200000 /dev/urandom >"$src/data/big.bin"
    echo "The last one." >"$src/data/deep/note.txt"
    for f in $SOURCE_FILES; do touch -d "$STAMP" "$src/$f"; done
}

# make_cabinet NAME: $WORK/NAME.cab, MSZIP, from the source tree, with the
# read-only and hidden files marked so (each also "archive").
make_cabinet() {
    [ -d "$WORK/src" ] || make_sources
    (cd "$WORK/src" && gcab -c -z "$WORK/$1.cab" $SOURCE_FILES) || fail "gcab"
    "$PYTHON3" "$SOURCE_DIR/cabpatch.py" attribs "$WORK/$1.cab" readonly.txt 0x21
    "$PYTHON3" "$SOURCE_DIR/cabpatch.py" attribs "$WORK/$1.cab" hidden.txt 0x22
}

# make_package NAME [CABINET]: DIR/NAME.exe = the stub, filler up to 160000
# bytes, then CABINET ($WORK/NAME.cab by default; "none" for no cabinet).
make_package() {
    cab=${2:-$WORK/$1.cab}
    [ "$cab" = none ] || [ -f "$cab" ] || make_cabinet "$1"
    mkdir -p "$WORK/run"
    package=$WORK/run/$1.exe
    cp "$STUB" "$package"
    [ "$(stat -c %s "$package")" -ge $CABINET_OFFSET ] || truncate -s $CABINET_OFFSET "$package"
    if [ "$cab" = none ]; then
        head -c 4096 /dev/zero >>"$package"
    else
        cat "$cab" >>"$package"
    fi
}

# start_package NAME [DIR]: runs $WORK/run/NAME.exe with current directory
# $WORK/run, or with DIR (a Windows path) through the probe.
start_package() {
    rm -f "$WORK/exit"
    if [ $# -gt 1 ]; then
        ("$WINE64" "$PROBE" launch "$2" "$(winpath "$WORK/run/$1.exe")"; echo $? >"$WORK/exit") &
    else
        (cd "$WORK/run" && "$WINE64" "$1.exe"; echo $? >"$WORK/exit") &
    fi
    STUB_PID=$!
}

# Waits for the package to end by itself and checks its exit code, 0.
expect_exit_0() {
    wait_until 600 "the package did not end" test -s "$WORK/exit"
    wait "$STUB_PID" 2>/dev/null || true
    STUB_PID=
    [ "$(cat "$WORK/exit")" = 0 ] || fail "exit code $(cat "$WORK/exit"), expected 0"
}

# wait_dialog CAPTION [ID]: a dialog with that caption (and control ID) shows.
wait_dialog() {
    probe wait "$1" "${2:-0}" 60000 || fail "no dialog \"$1\"${2:+ with control $2}"
}

# gone_dialog CAPTION [ID]: no such dialog shows any more.
gone_dialog() {
    probe gone "$1" "${2:-0}" 30000 || fail "dialog \"$1\" still shows"
}

keys() {
    xdotool key --delay 80 "$@"
}

# click CAPTION ID: a mouse click on a control of the dialog.
click() {
    point=$(probe click "$1" "$2") || fail "no control $2 in \"$1\""
    # shellcheck disable=SC2086
    xdotool mousemove $point click 1
}

# expect_text CAPTION ID TEXT: the control shows TEXT (within a few seconds:
# a dialog may show before its texts are set).
expect_text() {
    tries=0
    until actual=$(probe text "$1" "$2") && [ "$actual" = "$3" ]; do
        tries=$((tries + 1))
        [ $tries -lt 10 ] || fail "control $2 of \"$1\" shows \"$actual\", expected \"$3\""
        sleep 0.3
    done
}

# set_folder_text CAPTION TEXT: replaces the folder text by typing.
# Keys sent while the dialog is still taking the focus are lost, so the
# clearing is repeated until the box is empty.
set_folder_text() {
    tries=0
    until keys End shift+Home BackSpace && actual=$(probe text "$1" 1000) && [ -z "$actual" ]; do
        tries=$((tries + 1))
        [ $tries -lt 10 ] || fail "the folder text of \"$1\" does not clear"
        sleep 0.3
    done
    [ -z "$2" ] || xdotool type --delay 30 "$2"
    expect_text "$1" 1000 "$2"
}

# shot NAME: keeps a screenshot of the screen, cut to its dialogs.
shot() {
    import -window root "$SHOTS/$1.png"
    convert "$SHOTS/$1.png" -trim +repage "$SHOTS/$1.png"
}

# watch_progress: follows the progress dialog in the background; the result
# ("MS|STATUS|POS|MAX") lands in the second line of $WORK/watch. Returns once
# the watch runs.
watch_progress() {
    # Not through probe(): its filter would hold "ready" back until the end.
    "$WINE64" "$PROBE" watch Extract 60000 >"$WORK/watch" &
    WATCH_PID=$!
    wait_until 300 "the progress watch did not start" grep -q ready "$WORK/watch"
}

# expect_progress STATUS POS MAX [LONGEST_MS]: what the progress dialog
# showed last, and that it closed by itself about a second after the run
# (in all at most LONGEST_MS, 10000 by default, after it showed).
expect_progress() {
    wait "$WATCH_PID" || fail "the progress dialog did not show"
    IFS='|' read -r shown status pos max <<EOF
$(sed -n 2p "$WORK/watch" | tr -d '\r')
EOF
    [ "$status|$pos|$max" = "$1|$2|$3" ] ||
        fail "progress showed \"$status\" at $pos of $max, expected \"$1\" at $2 of $3"
    [ "$shown" -ge 950 ] && [ "$shown" -le "${4:-10000}" ] || fail "progress dialog shown for $shown ms"
}

# expect_tree DIR: DIR holds the source tree exactly, with its time stamps
# and the stored attributes.
expect_tree() {
    [ -d "$1" ] || fail "no folder $1"
    for f in $SOURCE_FILES; do
        cmp -s "$WORK/src/$f" "$1/$f" || fail "$1/$f differs from its source"
        [ "$(stat -c %Y "$1/$f")" = "$(date -d "$STAMP" +%s)" ] || fail "$1/$f has not the stored time"
    done
    [ "$(cd "$1" && find . -type f | wc -l)" = $FILE_COUNT ] || fail "$1 holds other files"
    attrs=$(probe attrs "$(winpath "$1/readonly.txt")" "$(winpath "$1/hidden.txt")" "$(winpath "$1/readme.txt")")
    set -- $attrs
    [ $(($1 & 0x21)) = $((0x21)) ] || fail "readonly.txt has attributes $1, expected read-only and archive"
    [ $(($2 & 0x23)) = $((0x22)) ] || fail "hidden.txt has attributes $2, expected hidden and archive"
    [ $(($3 & 0x03)) = 0 ] || fail "readme.txt has attributes $3, expected neither read-only nor hidden"
}

# expect_nothing_in DIR: DIR holds no file.
expect_no_files() {
    [ ! -d "$1" ] || [ -z "$(find "$1" -type f)" ] || fail "files were extracted into $1"
}

# set_base_location VALUE|none: the per-user setting of read-only packages.
set_base_location() {
    key='HKCU\Software\Quorvane\Tessaly'
    "$WINE64" reg delete "$key" /f >/dev/null 2>&1 || true
    if [ "$1" != none ]; then
        "$WINE64" reg add "$key" /v BaseLocation /t REG_SZ /d "$1" /f >/dev/null 2>&1 || fail "reg add"
    fi
}

# map_drive_r DIR: Wine's drive R: is DIR.
map_drive_r() {
    mkdir -p "$1"
    ln -sfn "$1" "$PREFIX/dosdevices/r:"
}
