#!/bin/sh
# Writes the manual page selfex.1 from the tool's own help texts, so that
# the page says what `--help` says:
#   make-manpage.sh SELFEX VERSION SOURCE_DIR OUT
# The overview (`selfex --help`) gives the synopsis and the description,
# each command's --help its own section; only the name line, the files and
# the environment are written here. The page is dated by SOURCE_DATE_EPOCH,
# else by the last commit of SOURCE_DIR, else not at all, so that the same
# sources give the same page.
set -eu
SELFEX=$1
VERSION=$2
SOURCE_DIR=$3
OUT=$4

epoch=${SOURCE_DATE_EPOCH:-$(git -C "$SOURCE_DIR" log -1 --format=%ct 2>/dev/null || true)}
date=
[ -z "$epoch" ] || date=$(date -u -d "@$epoch" +%Y-%m-%d)

# render: help text on stdin to man(7) markup. Unindented lines are running
# text, a blank line starts a paragraph, and an indented "TAG  text" line
# (an option or a command) a tagged paragraph whose text continues on the
# lines indented further. In tags, option names are bold, upper-case
# placeholders italic.
render() {
    awk '
    function esc(t) {
        gsub(/\\/, "\\\\e", t)
        gsub(/-/, "\\\\-", t)
        if (t ~ /^[.\047]/) t = "\\&" t
        return t
    }
    function tag(t,    n, i, w, out, sep) {
        n = split(t, words, " ")
        out = ""
        for (i = 1; i <= n; i++) {
            w = words[i]
            sep = ""
            if (w ~ /,$/) { sep = ","; w = substr(w, 1, length(w) - 1) }
            if (w ~ /^[A-Z|.]+$/) w = "\\fI" esc(w) "\\fR"
            else w = "\\fB" esc(w) "\\fR"
            out = out (i > 1 ? " " : "") w sep
        }
        return out
    }
    /^$/ { if (!para) print ".PP"; para = 1; entry = 0; next }
    /^  [^ ]/ && match(substr($0, 3), /  +/) {
        print ".TP"
        print tag(substr($0, 3, RSTART - 1))
        body = substr($0, 3 + RSTART - 1 + RLENGTH)
        print esc(body)
        entry = 1; para = 0; next
    }
    /^   / && entry { sub(/^ +/, ""); print esc($0); next }
    {
        if (entry) { print ".PP"; entry = 0 }
        print esc($0); para = 0
    }'
}

# The command names, from the overview's "commands:" list.
commands=$("$SELFEX" --help | awk '/^commands:/ { listed = 1; next } listed && /^$/ { exit } listed { print $1 }')

{
    echo ".TH SELFEX 1 \"$date\" \"selfex $VERSION\" \"User Commands\""
    echo ".SH NAME"
    echo "selfex \\- make and inspect self\\-extracting packages for Windows"
    echo ".SH SYNOPSIS"
    echo ".nf"
    for command in $commands; do
        "$SELFEX" "$command" --help | sed -n 's/^usage: //p' | render
    done
    printf '%s\n' "selfex COMMAND --help" "selfex --help" "selfex --version" | render
    echo ".fi"
    echo ".SH DESCRIPTION"
    "$SELFEX" --help | sed '1,2d' | render
    echo ".SH COMMANDS"
    for command in $commands; do
        help=$("$SELFEX" "$command" --help)
        echo ".SS \"selfex $command\""
        printf '%s\n' "$help" | sed -n "1s/^selfex $command: //p" | render
        echo ".PP"
        echo ".nf"
        printf '%s\n' "$help" | sed -n 's/^usage: //p' | render
        echo ".fi"
        echo ".PP"
        printf '%s\n' "$help" | sed '1,4d' | render
    done
    cat <<'PAGE'
.SH FILES
Where selfex finds what ships with it, relative to its own folder
\fIPREFIX\fR/bin (\fIPREFIX\fR is /usr for the Debian package; in a staged
build, dist/ is \fIPREFIX\fR):
.TP
\fIPREFIX\fR/share/selfex/selfex\-stub\-x86.exe, selfex\-stub\-x64.exe
the stubs; \fBpack\fR puts the x86 one in front of the cabinet, the x64
one with \fB\-\-arch x64\fR, unless \fB\-\-stub\fR names another. Also
looked for in \fIPREFIX\fR/stub.
.TP
\fIPREFIX\fR/lib/selfex/libcabinet.so
the cabinet decompressor that \fBlist\fR, \fBtest\fR and \fBextract\fR read
packages with (on Windows, the system's Cabinet.dll). Also looked for in
\fIPREFIX\fR/bin and \fIPREFIX\fR/lib.
.SH ENVIRONMENT
.TP
.B SELFEX_LIBRARY_PATH
a folder in which alone libcabinet.so is looked for, when set and not empty.
PAGE
} > "$OUT.tmp"
mv -f "$OUT.tmp" "$OUT"
