#!/bin/sh
# Fails when a C++ source of the project differs from what clang-format 14 makes of it with the
# committed .clang-format (other versions format differently). With --fix it formats in place.
set -u
cd "$(dirname "$0")/.."
FORMAT=$(command -v clang-format-14 || command -v clang-format)
if [ -z "$FORMAT" ]; then
    echo "format-check: clang-format 14 is not installed (tools/install-deps.sh installs it)"
    exit 1
fi
FILES=$(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
    echo "$FILES" | xargs "$FORMAT" -i
    exit 0
fi
if ! echo "$FILES" | xargs "$FORMAT" --dry-run --Werror 2> build-format.log; then
    head -40 build-format.log
    echo "format-check: sources differ from clang-format; run sh tools/format-check.sh --fix"
    rm -f build-format.log
    exit 1
fi
rm -f build-format.log
echo "format-check: every source is formatted"
