#!/bin/sh
# Programs built against libvendlink.so.2 must keep working: its interface, read by abidw from
# the library's debug information and the public headers, must be abi/libvendlink.so.2.abi.
# Any difference fails, a symbol gone as well as one added.  BUILD_DIR (default build) is a
# RelWithDebInfo build, as the baseline's was.
#   scripts/abi-check.sh [BUILD_DIR]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
abidw --headers-dir include/vendlink --drop-private-types --exported-interfaces-only \
    --no-corpus-path --no-comp-dir-path --short-locs --out-file "$build/libvendlink.so.2.abi" \
    "$build/src/libvendlink.so.2"
if abidiff abi/libvendlink.so.2.abi "$build/libvendlink.so.2.abi"; then
    echo "  the same interface as abi/libvendlink.so.2.abi"
else
    echo "  the interface differs (above); a deliberate change also updates the baseline"
    echo "  (cp $build/libvendlink.so.2.abi abi/): see docs/library.md"
    exit 1
fi
