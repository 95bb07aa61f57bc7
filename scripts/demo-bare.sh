#!/bin/sh
# The main job needs only a compiler and CMake: in a build whose configuration cannot find the
# test and benchmark libraries (the "bare" preset), which must say it leaves them out, the demo
# runs, and the test command fails, saying what to install.
set -eu
cd "$(dirname "$0")/.."
mkdir -p build-bare
cmake --preset bare >build-bare/configure.log 2>&1
grep 'not found' build-bare/configure.log
DEMO_BUILD=build-bare scripts/demo.sh
if cmake --build --preset bare >build-bare/tests.log 2>&1; then
    echo "the build passed without GoogleTest"
    exit 1
fi
grep '^GoogleTest not found: apt-get install libgtest-dev libgmock-dev' build-bare/tests.log
