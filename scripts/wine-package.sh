# Runs a package under wine64 and accepts the folder it proposes. Sourced by
# scripts/demo.sh and tests/tools/wine-stub.sh; defines the wp_* functions
# below and leaves set -e and traps to the caller, who calls wp_cleanup on
# exit.
#
# The package's folder dialog carries the package's base name as its caption
# and proposes the current folder, so a package run in DIR extracts into
# DIR/NAME/ once OK is pressed.

WINE64=${WINE64:-$(command -v wine64 || echo /usr/lib/wine/wine64)}
WINESERVER=${WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver)}
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
WP_XVFB_PID=
WP_PACKAGE_PID=

# wp_wait TENTHS COMMAND...: polls COMMAND ten times a second; false when it
# never succeeded.
wp_wait() {
    wp_tries=$1
    shift
    until "$@" >/dev/null 2>&1; do
        wp_tries=$((wp_tries - 1))
        [ $wp_tries -gt 0 ] || return 1
        sleep 0.1
    done
}

# wp_start_xvfb WORKDIR: a private X server; exports DISPLAY.
wp_start_xvfb() {
    rm -f "$1/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$1/display" >/dev/null 2>&1 &
    WP_XVFB_PID=$!
    wp_wait 300 test -s "$1/display" || return 1
    DISPLAY=:$(cat "$1/display")
    export DISPLAY
}

# wp_make_prefix PREFIX [headless]: exports WINEPREFIX and makes the prefix
# once. Headless prefixes let Wine draw window frames itself, as no window
# manager runs on Xvfb. Start the X server first: Wine's desktop process
# starts with the prefix and must find the display.
wp_make_prefix() {
    export WINEPREFIX=$1
    [ -f "$WINEPREFIX/.selfex-ready" ] && return 0
    echo "making the Wine prefix $WINEPREFIX (once)"
    mkdir -p "$WINEPREFIX"
    "$WINE64" wineboot -i >/dev/null 2>&1
    if [ $# -gt 1 ]; then
        "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
        "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
    fi
    "$WINESERVER" -w
    touch "$WINEPREFIX/.selfex-ready"
}

# wp_start PACKAGE DIR WORKDIR: runs PACKAGE (a path) with current folder DIR
# in the background; its exit code lands in WORKDIR/exit, what Wine says in
# WORKDIR/wine.log, and the moment it ended (date +%s.%N) in WORKDIR/ended,
# written before exit, so that a timer can wait without fine polling.
wp_start() {
    rm -f "$3/exit" "$3/ended"
    (
        cd "$2" && "$WINE64" "$1" 2>"$3/wine.log"
        wp_code=$?
        date +%s.%N > "$3/ended"
        echo $wp_code > "$3/exit"
    ) &
    WP_PACKAGE_PID=$!
}

# wp_shot FILE: a screenshot of the (virtual) screen, trimmed to the dialogs.
wp_shot() {
    import -window root "$1" 2>/dev/null && convert "$1" -trim +repage "$1" 2>/dev/null
}

# wp_accept CAPTION WORKDIR [SHOTDIR]: waits for the folder dialog, presses
# Enter (OK), and waits for the package to end; with SHOTDIR, keeps
# screenshots of the folder dialog and, if it is caught, the progress
# dialog. Prints what went wrong and returns 1 on failure.
wp_accept() {
    wp_dialog_or_end() { xdotool search --name "^$1\$" || test -s "$2/exit"; }
    # Wine's first start in a new prefix can take a minute or two.
    wp_wait 3000 wp_dialog_or_end "$1" "$2" || { echo "the folder dialog did not show within five minutes"; return 1; }
    [ -s "$2/exit" ] && { echo "the package ended without showing its folder dialog (see $2/wine.log)"; return 1; }
    sleep 1
    [ $# -gt 2 ] && wp_shot "$3/1-folder-dialog.png"
    xdotool key Return
    # The progress dialog ("Extract") closes itself a second after success.
    if [ $# -gt 2 ] && wp_wait 100 xdotool search --name '^Extract$'; then
        wp_shot "$3/2-progress-dialog.png"
    fi
    wp_wait 3000 test -s "$2/exit" || { echo "the package did not finish within five minutes"; return 1; }
    wait "$WP_PACKAGE_PID" 2>/dev/null || true
    WP_PACKAGE_PID=
}

wp_cleanup() {
    [ -n "$WP_PACKAGE_PID" ] && kill "$WP_PACKAGE_PID" 2>/dev/null
    [ -n "${WINEPREFIX:-}" ] && "$WINESERVER" -k >/dev/null 2>&1
    [ -n "$WP_XVFB_PID" ] && kill "$WP_XVFB_PID" 2>/dev/null && wait "$WP_XVFB_PID" 2>/dev/null
    WP_PACKAGE_PID= WP_XVFB_PID=
}
