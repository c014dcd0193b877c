#!/bin/sh
# Copies what the builds made into dist/: the tool, its decoder library and
# its manual page for Linux, the tool for Windows, the two stubs. Each file
# is written beside its staged copy and renamed over it, so that a
# dist/bin/selfex running meanwhile keeps its old file and nobody reads
# half a new one; files that did not change are left alone.
set -e
cd "$(dirname "$0")/.."
mkdir -p dist/bin dist/lib dist/stub dist/man
stage() { # stage FROM TO
  [ -f "$1" ] || return 0
  cmp -s "$1" "$2" 2>/dev/null && return 0
  cp -p "$1" "$2.staging"
  mv -f "$2.staging" "$2"
}
stage build/native-release/bin/selfex         dist/bin/selfex
stage build/native-release/bin/libcabinet.so  dist/lib/libcabinet.so
stage build/native-release/man/selfex.1       dist/man/selfex.1
stage build/mingw-x64/bin/selfex.exe          dist/bin/selfex.exe
stage build/mingw-x64/bin/selfex-stub.exe     dist/stub/selfex-stub-x64.exe
stage build/mingw-x86/bin/selfex-stub.exe     dist/stub/selfex-stub-x86.exe
exit 0
