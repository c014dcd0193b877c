#!/bin/sh
# Copies what the builds made into dist/: the tool and the decoder library
# for Linux, the tool for Windows, the two stubs.
set -e
cd "$(dirname "$0")/.."
mkdir -p dist/bin dist/lib dist/stub
stage() { # stage FROM TO
  if [ -f "$1" ]; then cp -p "$1" "$2"; fi
}
stage build/native-release/bin/selfex         dist/bin/selfex
stage build/native-release/bin/libcabinet.so  dist/lib/libcabinet.so
stage build/mingw-x64/bin/selfex.exe          dist/bin/selfex.exe
stage build/mingw-x64/bin/selfex-stub.exe     dist/stub/selfex-stub-x64.exe
stage build/mingw-x86/bin/selfex-stub.exe     dist/stub/selfex-stub-x86.exe
exit 0
