#!/bin/sh
# Runs CTest for each preset given, then the checks of the whole build
# (format, install, reproducible: scripts/check-*.sh), then repeats every
# summary line so the outcome of the whole run stands at the end. Exits 1
# if anything failed.
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}
# GCC 12's sanitizer runtime can take a block of a dlopen'd library's
# thread-local data for an old glibc layout, by the block's address alone,
# and LeakSanitizer's tracer then crashes at exit after a passing test
# (libcabinet.so has thread-local data). Its own fix: do not intercept
# __tls_get_addr.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}intercept_tls_get_addr=0"
summary=""
failed=0
for preset in "$@"; do
  echo "=== ctest: $preset"
  log=build/$preset/ctest-summary.log
  # Wine builds: start the prefix's server and background processes before
  # the tests, with no output, so that no test program starts them and has
  # its output pipes held open by them.
  if [ -x "build/$preset/wine-run.sh" ]; then
    "build/$preset/wine-run.sh" wineboot </dev/null >/dev/null 2>&1 || true
  fi
  ctest --test-dir "build/$preset" -j "$JOBS" --output-on-failure --timeout 600 2>&1 | tee "$log"
  line=$(grep -E 'tests passed|No tests were found' "$log" | tail -n 1)
  grep -q '100% tests passed' "$log" || failed=1
  summary="$summary
$preset: $line"
done
for check in format install reproducible; do
  echo "=== check: $check"
  log=build/check-$check.log
  JOBS=$JOBS scripts/check-$check.sh > "$log" 2>&1
  status=$?
  cat "$log"
  if [ $status -eq 0 ]; then
    line="passed"
  else
    line="FAILED (see $log)"
    failed=1
  fi
  summary="$summary
check $check: $line"
done
echo "=== summary$summary"
exit $failed
