#!/bin/sh
# Checks that every C and C++ source under version control is in the house
# format (.clang-format). With --fix, reformats them instead.
cd "$(dirname "$0")/.."
CLANG_FORMAT=${CLANG_FORMAT:-clang-format-16}
files=$(git ls-files '*.c' '*.cpp' '*.h')
if [ "$1" = "--fix" ]; then
  # shellcheck disable=SC2086
  exec "$CLANG_FORMAT" -i $files
fi
# shellcheck disable=SC2086
if ! "$CLANG_FORMAT" --dry-run -Werror $files; then
  echo "check-format: run scripts/check-format.sh --fix" >&2
  exit 1
fi
echo "check-format: $(echo "$files" | wc -l) files in the house format"
