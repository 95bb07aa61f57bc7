#!/bin/sh
# clang-tidy over src/ and tools/ (the checks are in .clang-tidy), with the compile commands of
# the "analysis" preset: clang's flags, no sanitizer; configured only, nothing built.  Prints
# each finding once; fails on any.
set -u
cd "$(dirname "$0")/.." || exit 1
cmake --preset analysis >/dev/null || exit 1
run-clang-tidy -p build-analysis -j2 -quiet "$(pwd)/(src|tools)/" >build-analysis/tidy.log 2>&1
status=$?
echo "  files checked: $(grep -c '^clang-tidy' build-analysis/tidy.log)"
sed 's/\x1b\[[0-9;]*m//g' build-analysis/tidy.log | grep -E '(warning|error):' | sort -u
exit "$status"
