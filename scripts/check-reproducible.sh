#!/bin/sh
# The same sources build the same bytes, wherever the build folder lies:
# builds the two stubs, the Linux tool and its decoder library once more in
# build/repro/PRESET (a folder of another name and depth) and compares them
# with what `make` built in build/PRESET. Run by `make test` after `make`.
set -u
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}
failures=0

# check PRESET FILE TARGET...: builds TARGETs of PRESET in build/repro and
# compares bin/FILE of both builds.
check() {
  preset=$1 file=$2
  shift 2
  first=build/$preset/bin/$file
  second=build/repro/$preset/bin/$file
  [ -f "$first" ] || { echo "FAIL: $first is missing; run make first"; failures=$((failures + 1)); return; }
  if ! { cmake --preset "$preset" -B "build/repro/$preset" >/dev/null &&
         cmake --build "build/repro/$preset" -j "$JOBS" --target "$@" >"build/repro/$preset.log" 2>&1; }; then
    echo "FAIL: the second build of $preset failed (build/repro/$preset.log)"
    failures=$((failures + 1))
    return
  fi
  a=$(sha256sum < "$first" | cut -c1-64)
  b=$(sha256sum < "$second" | cut -c1-64)
  if [ "$a" = "$b" ]; then
    echo "same:   $preset $file $a"
  else
    echo "FAIL: $preset $file differs between build/$preset ($a) and build/repro/$preset ($b)"
    failures=$((failures + 1))
  fi
}
mkdir -p build/repro
check mingw-x86 selfex-stub.exe selfex-stub
check mingw-x64 selfex-stub.exe selfex-stub
check native-release selfex selfex selfex_fdi
check native-release libcabinet.so selfex_fdi

if [ $failures -eq 0 ]; then echo "check-reproducible: all builds gave the same bytes"; fi
[ $failures -eq 0 ]
