#!/bin/sh
# Runs every benchmark's run.sh against the Release build (build/native-release).
cd "$(dirname "$0")/.."
status=0
for run in bench/*/run.sh; do
  [ -f "$run" ] || continue
  echo "=== $run"
  BUILD_DIR="$PWD/build/native-release" sh "$run" || status=1
done
exit $status
