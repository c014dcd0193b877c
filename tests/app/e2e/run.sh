#!/bin/sh
# Runs one end-to-end scenario of the stub: run.sh NAME (see lib.sh).
# Each scenario is a function below; the package's name is its caption.
SCENARIO=${1:?usage: run.sh SCENARIO}
. "$(dirname "$0")/lib.sh"

# Enter on the proposed folder of a writable package: the current directory,
# started with a lower-case drive letter, shows with an upper-case one; the
# files land in the subfolder named after the package.
scenario_enter_proposed() {
    make_package Enter
    dir=$(winpath "$WORK/run")
    start_package Enter "z${dir#Z}"
    wait_dialog Enter 1000
    expect_text Enter 1000 "$dir"
    expect_text Enter 0 Enter
    shot folder-dialog
    watch_progress
    keys Return
    # Screenshots while the progress dialog shows; one of them must show
    # the bar filled after the run.
    wait_until 100 "no progress dialog" xdotool search --name '^Extract$'
    i=0
    while xdotool search --name '^Extract$' >/dev/null 2>&1 && [ $i -lt 40 ]; do
        import -window root "$WORK/progress-$i.png" 2>/dev/null || true
        i=$((i + 1))
    done
    expect_progress note.txt $FILE_COUNT $FILE_COUNT
    expect_exit_0
    expect_bar_seen_full
    expect_tree "$WORK/run/Enter"
}

# Of the screenshots taken while the progress dialog showed, the fullest bar
# (share of the bar's row in the highlight colour) must be full.
expect_bar_seen_full() {
    best=0
    best_shot=
    for png in "$WORK"/progress-*.png; do
        [ -f "$png" ] || continue
        fill=$(bar_fill "$png")
        if [ "$fill" -gt "$best" ]; then best=$fill; best_shot=$png; fi
    done
    [ -n "$best_shot" ] || fail "no screenshot of the progress dialog"
    cp "$best_shot" "$SHOTS/progress-dialog.png"
    convert "$SHOTS/progress-dialog.png" -trim +repage "$SHOTS/progress-dialog.png"
    [ "$best" -ge 90 ] || fail "the bar was never seen full (at best $best %)"
}

# Percent of the pixels of the widest highlight-coloured row in a screenshot
# that lie inside the progress dialog's bar: the bar is the only highlight
# coloured thing there but the active caption, which is left out by looking
# below it.
bar_fill() {
    convert "$1" -trim +repage -crop +0+30 +repage -fuzz 20% -fill white -opaque '#3399ff' \
        -fill black +opaque white -scale 'x1!' -format '%[fx:round(100*maxima.r)]' info: 2>/dev/null || echo 0
}

# The status line shows the name of the file being written: also during a
# long first file, and during a long file right after a short one (not the
# name before it); at the end the last name and a full bar. Two files of
# 400 MB of zeros take a few seconds to write; the screenshots are taken
# while each is still growing, and the width of the text on the status line
# tells the names apart.
scenario_long_file_name() {
    first=a.bin
    third=the-third-file-has-a-long-name.bin
    size=400000000
    "$PYTHON3" "$SOURCE_DIR/cabpatch.py" zeros "$WORK/LongFile.cab" $first:$size b.txt:10 $third:$size z.txt:10
    make_package LongFile
    start_package LongFile
    wait_dialog LongFile 1000
    watch_progress
    keys Return
    out=$WORK/run/LongFile
    shot_while_written "$out/$first" $size during-first-file
    shot_while_written "$out/$third" $size during-third-file 120
    wait_until 600 "z.txt was not extracted" test -f "$out/z.txt"
    sleep 0.3
    import -window root "$WORK/finished.png"
    expect_progress z.txt 4 4 120000
    expect_exit_0
    rm -rf "$out"
    width=$(status_text_width "$SHOTS/during-first-file.png")
    [ "$width" -ge 10 ] && [ "$width" -le 60 ] || fail "while $first was written the status line held $width pixels of text"
    width=$(status_text_width "$SHOTS/during-third-file.png")
    [ "$width" -ge 120 ] || fail "while $third was written the status line held $width pixels of text"
    width=$(status_text_width "$WORK/finished.png")
    [ "$width" -ge 10 ] && [ "$width" -le 60 ] || fail "at the end the status line held $width pixels of text"
    [ "$(bar_fill "$WORK/finished.png")" -ge 90 ] || fail "the bar was not full at the end"
}

# shot_while_written FILE SIZE NAME [WIDTH]: once FILE is being written (it
# exists and is shorter than SIZE), a screenshot NAME.png that ends before
# FILE is complete. With WIDTH, screenshots are retaken while FILE is
# written until the status line holds at least WIDTH pixels of text: the
# name of a file that starts soon after a repaint shows at the next one, up
# to a repaint interval after the file appears.
shot_while_written() {
    wait_until 600 "$1 was never seen being written" is_partial "$1" "$2"
    tries=20
    while :; do
        import -window root "$SHOTS/$3.png"
        is_partial "$1" "$2" || fail "$(basename "$1") was complete before its screenshot was"
        convert "$SHOTS/$3.png" -trim +repage "$SHOTS/$3.png"
        tries=$((tries - 1))
        if [ -z "${4:-}" ] || [ $tries -eq 0 ] || [ "$(status_text_width "$SHOTS/$3.png")" -ge "$4" ]; then
            return 0
        fi
        sleep 0.05
    done
}

is_partial() {
    [ -f "$1" ] && [ "$(stat -c %s "$1")" -lt "$2" ]
}

# Width in pixels of the dark text on the progress dialog's status line (1
# for none), in a screenshot showing that dialog alone.
status_text_width() {
    convert "$1" -trim +repage -crop 320x14+4+30 +repage -threshold 50% -trim -format '%w' info: 2>/dev/null || echo 0
}

# A read-only package proposes "BaseLocation" less its trailing backslash.
scenario_readonly_base_location() {
    map_drive_r "$WORK/rdrive"
    mkdir -p "$WORK/rdrive/Base"
    set_base_location 'R:\Base\'
    make_package ReadOnly
    chmod a-w "$WORK/run/ReadOnly.exe"
    start_package ReadOnly
    wait_dialog ReadOnly 1000
    expect_text ReadOnly 1000 'R:\Base'
    keys Return
    expect_exit_0
    expect_tree "$WORK/rdrive/Base/ReadOnly"
}

# A drive root as "BaseLocation" keeps its backslash, so the target is the
# root itself.
scenario_readonly_base_location_root() {
    map_drive_r "$WORK/rdrive"
    set_base_location 'R:\'
    make_package Root
    chmod a-w "$WORK/run/Root.exe"
    start_package Root
    wait_dialog Root 1000
    expect_text Root 1000 'R:\'
    keys Return
    expect_exit_0
    expect_tree "$WORK/rdrive"
}

# A "BaseLocation" that fills the 520-byte buffer without a terminator is
# cut inside the buffer (259 characters); a longer one counts as missing.
# The value is taken as text whatever its type, so REG_BINARY stores the
# characters without the terminator that REG_SZ would add.
scenario_readonly_base_location_unterminated() {
    key='HKCU\Software\Quorvane\Tessaly'
    profile=$(ls -d "$PREFIX"/drive_c/users/*/Documents | grep -v /Public/ | head -n 1)
    user=$(basename "$(dirname "$profile")")
    for length in 260 261; do
        value="R:\\$(printf '%0*d' $((length - 3)) 0 | tr 0 A)"
        hex=$(printf '%s' "$value" | iconv -f ASCII -t UTF-16LE | od -An -v -tx1 | tr -d ' \n')
        "$WINE64" reg delete "$key" /f >/dev/null 2>&1 || true
        "$WINE64" reg add "$key" /v BaseLocation /t REG_BINARY /d "$hex" /f >/dev/null 2>&1 || fail "reg add"
        make_package Long$length
        chmod a-w "$WORK/run/Long$length.exe"
        start_package Long$length
        wait_dialog Long$length 1000
        if [ $length = 260 ]; then
            expect_text Long$length 1000 "$(printf '%s' "$value" | cut -c1-259)"
        else
            expect_text Long$length 1000 "C:\\users\\$user\\Documents\\Tessaly"
        fi
        keys Escape
        expect_exit_0
    done
}

# Without "BaseLocation" a read-only package proposes Documents\Tessaly.
scenario_readonly_documents() {
    set_base_location none
    profile=$(ls -d "$PREFIX"/drive_c/users/*/Documents | grep -v /Public/ | head -n 1)
    user=$(basename "$(dirname "$profile")")
    documents=$(readlink -f "$profile")
    rm -rf "$documents/Tessaly"
    make_package Docs
    chmod a-w "$WORK/run/Docs.exe"
    start_package Docs
    wait_dialog Docs 1000
    expect_text Docs 1000 "C:\\users\\$user\\Documents\\Tessaly"
    keys Return
    expect_exit_0
    expect_tree "$documents/Tessaly/Docs"
    rm -rf "$documents/Tessaly"
}

# Cancel, Escape and the close box end the package at once.
scenario_cancel_button() {
    make_package Cancel
    start_package Cancel
    wait_dialog Cancel 1000
    click Cancel 2
    expect_exit_0
    expect_no_files "$WORK/run/Cancel"
}

scenario_escape_key() {
    make_package Escape
    start_package Escape
    wait_dialog Escape 1000
    keys Escape
    expect_exit_0
    expect_no_files "$WORK/run/Escape"
}

scenario_close_box() {
    make_package Close
    start_package Close
    wait_dialog Close 1000
    point=$(probe closebox Close) || fail "no close box"
    # shellcheck disable=SC2086
    xdotool mousemove $point click 1
    expect_exit_0
    expect_no_files "$WORK/run/Close"
}

# An existing subfolder is reused only after a Yes; No keeps the dialog.
scenario_existing_subfolder() {
    make_package Exists
    mkdir -p "$WORK/run/Exists"
    start_package Exists
    wait_dialog Exists 1000
    keys Return
    wait_dialog Exists 65535
    expect_text Exists 65535 "$(printf 'Folder Exists already exists.\nContinue?')"
    shot question
    keys n
    gone_dialog Exists 65535
    wait_dialog Exists 1000
    expect_no_files "$WORK/run/Exists"
    click Exists 1
    wait_dialog Exists 65535
    keys Return
    expect_exit_0
    expect_tree "$WORK/run/Exists"
}

# A folder text that ends in a separator is the target itself, without a
# question even when it exists.
scenario_text_ends_in_backslash() {
    make_package Backslash
    mkdir -p "$WORK/dest"
    start_package Backslash
    wait_dialog Backslash 1000
    set_folder_text Backslash "$(winpath "$WORK/dest")\\"
    keys Return
    expect_exit_0
    expect_tree "$WORK/dest"
}

scenario_text_ends_in_slash() {
    make_package Slash
    start_package Slash
    wait_dialog Slash 1000
    set_folder_text Slash "$(winpath "$WORK/dest")/"
    keys Return
    expect_exit_0
    expect_tree "$WORK/dest"
}

# An empty text targets the package's folder at the root of the current
# drive (here R:).
scenario_empty_text() {
    map_drive_r "$WORK/rdrive"
    mkdir -p "$WORK/rdrive/cwd"
    make_package Empty
    start_package Empty 'R:\cwd'
    wait_dialog Empty 1000
    expect_text Empty 1000 'R:\cwd'
    set_folder_text Empty ""
    keys Return
    expect_exit_0
    expect_tree "$WORK/rdrive/Empty"
}

# Typing stops at 250 characters.
scenario_typing_limit() {
    make_package Limit
    start_package Limit
    wait_dialog Limit 1000
    keys End shift+Home BackSpace
    xdotool type --delay 5 "$(printf '%0255d' 0)"
    expect_text Limit 1000 "$(printf '%0250d' 0)"
    keys Escape
    expect_exit_0
}

# "MEMORY\" extracts into memory: the run succeeds, the bar counts every
# file, and no file is written (only the folder "MEMORY" appears).
scenario_memory() {
    make_package Memory
    start_package Memory
    wait_dialog Memory 1000
    set_folder_text Memory 'MEMORY\'
    watch_progress
    keys Return
    expect_progress note.txt $FILE_COUNT $FILE_COUNT
    expect_exit_0
    [ -d "$WORK/run/MEMORY" ] || fail "no folder MEMORY"
    expect_no_files "$WORK/run"/MEMORY
    [ ! -e "$WORK/run/Memory" ] || [ -z "$(ls -A "$WORK/run/Memory")" ] || fail "files in $WORK/run/Memory"
    [ "$(find "$WORK/run" -type f | wc -l)" = 1 ] || fail "files written beside the package"
}

# A package without a cabinet: "Extract Failed.", no folder.
scenario_no_cabinet() {
    make_package NoCabinet none
    start_package NoCabinet
    wait_dialog NoCabinet 1000
    keys Return
    wait_dialog NoCabinet 65535
    expect_text NoCabinet 65535 'Extract Failed.'
    shot extract-failed
    keys Return
    expect_exit_0
    [ ! -e "$WORK/run/NoCabinet" ] || fail "a folder was created"
}

# A data block spoiled in the middle of big.bin: "Extract Failed.", the
# files completed before stay, and no partial file is left.
scenario_corrupt_block() {
    make_cabinet Corrupt
    "$PYTHON3" "$SOURCE_DIR/cabpatch.py" spoil "$WORK/Corrupt.cab" 3
    make_package Corrupt
    start_package Corrupt
    wait_dialog Corrupt 1000
    keys Return
    wait_dialog Corrupt 65535
    expect_text Corrupt 65535 'Extract Failed.'
    bar=$(probe bar Extract)
    [ "$bar" = "big.bin|3|$FILE_COUNT" ] ||
        fail "progress shows \"$bar\", expected big.bin at 3 of $FILE_COUNT"
    keys Return
    expect_exit_0
    for f in readme.txt hidden.txt readonly.txt; do
        cmp -s "$WORK/src/$f" "$WORK/run/Corrupt/$f" || fail "completed file $f lost"
    done
    [ ! -e "$WORK/run/Corrupt/data/big.bin" ] || fail "partial big.bin left"
    [ ! -e "$WORK/run/Corrupt/data/deep/note.txt" ] || fail "note.txt after the failure"
}

# The folder picker starts at the edit box's folder; Cancel keeps the text,
# OK puts the picked folder's own path there, with the typing limit.
scenario_folder_picker() {
    make_package Picker
    mkdir -p "$WORK/run/Pick"
    start_package Picker
    wait_dialog Picker 1000
    typed="z$(winpath "$WORK/RUN/Pick" | cut -c2-)"
    set_folder_text Picker "$typed"
    click Picker 1001
    wait_dialog 'Browse for Folder'
    shot folder-picker
    keys Escape
    gone_dialog 'Browse for Folder'
    expect_text Picker 1000 "$typed"
    click Picker 1001
    wait_dialog 'Browse for Folder'
    keys Return
    gone_dialog 'Browse for Folder'
    picked=$(winpath "$WORK/run/Pick")
    expect_text Picker 1000 "$picked"
    # The picked text gets the typing limit as well.
    click Picker 1000
    keys End
    xdotool type --delay 5 "$(printf '%0255d' 0)"
    expect_text Picker 1000 "$picked$(printf "%0$((250 - ${#picked}))d" 0)"
    # A click, not a key: the focus may still be on its way back from the
    # picker.
    click Picker 2
    expect_exit_0
}

# DLLs planted beside the package are never loaded, not even by the folder
# picker, while a program that does not restrict its DLL search loads them
# from there. (version.dll is left out: Wine's own user32 imports it, so
# Wine loads it from beside any program before the program's first
# instruction; on Windows user32 is a known DLL, whose imports come from the
# system directory only.)
scenario_dll_planting() {
    # Wine prefers its own builtin DLLs wherever a file of the name lies;
    # native first, it searches the way Windows does.
    export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;cabinet,uxtheme,dwmapi=n,b"
    make_package Planted
    for dll in cabinet uxtheme dwmapi; do cp "$E2E_PLANTED/$dll.dll" "$WORK/run/"; done
    cp "$PROBE" "$WORK/run/"
    loaded=$("$WINE64" "$WORK/run/e2e_probe.exe" load cabinet.dll | tr -d '\r')
    [ -f "$WORK/run/cabinet.dll.loaded" ] || fail "control: a plain load found \"$loaded\", not the planted DLL"
    rm -f "$WORK/run"/*.loaded "$WORK/run/e2e_probe.exe"
    start_package Planted
    wait_dialog Planted 1000
    click Planted 1001
    wait_dialog 'Browse for Folder'
    keys Escape
    gone_dialog 'Browse for Folder'
    click Planted 1
    expect_exit_0
    expect_tree "$WORK/run/Planted"
    markers=$(cd "$WORK/run" && ls ./*.loaded 2>/dev/null || true)
    [ -z "$markers" ] || fail "planted DLLs were loaded: $markers"
}

begin
"scenario_$(echo "$SCENARIO" | tr - _)"
