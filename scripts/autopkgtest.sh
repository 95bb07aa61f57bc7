#!/bin/sh
# The packages' own tests (debian/tests) on the .debs in DEBS_DIR, with autopkgtest's null
# server, which installs them into this very machine: for CI's machine, thrown away afterwards,
# as root.  On a machine of your own, give the tests a system to spoil instead, for instance
#   autopkgtest -B build-debs/*.deb ./ -- qemu autopkgtest-bookworm-amd64.img
#   scripts/autopkgtest.sh DEBS_DIR
set -eu
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then
    echo "  not run: the null server installs the packages, which needs root"
    exit 1
fi
# The tests take their scripts from a copy of the sources.
rm -rf build-autopkgtest
mkdir -p build-autopkgtest/src
git ls-files -co --exclude-standard -z >build-autopkgtest/files
tar --null -T build-autopkgtest/files -cf - | tar -xf - -C build-autopkgtest/src
status=0
autopkgtest -B -o build-autopkgtest/out "$1"/*.deb build-autopkgtest/src/ -- null \
    >build-autopkgtest/log 2>&1 || status=$?
sed 's/^/  /' build-autopkgtest/out/summary || tail -n 30 build-autopkgtest/log
[ "$status" -eq 0 ] || echo "  the whole log: build-autopkgtest/log"
exit "$status"
