#!/bin/bash
# Installs the build into a scratch prefix and builds the C consumer against
# the installed copy only: with pkg-config (shared and static) and with
# find_package (vendlink::vendlink and vendlink::vendlink_static); runs all
# four and checks what each is linked with.
#
#   consumer.sh BUILD_DIR VERSION
# Environment: CMAKE, CMAKE_GENERATOR, CC, CONSUMER_FLAGS (sanitizer flags
# when the build has them).
set -u
build=$1 version=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"

need pkg-config readelf "${CC:-cc}" "${CMAKE:-cmake}"
make_scratch
prefix=$scratch/prefix
install_tree "$build" "$prefix"
libdir=$(libdir_of "$prefix")
flags=${CONSUMER_FLAGS:-}

# needed BINARY: its NEEDED entries, one a line.
needed() {
    readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
}

# run_consumer NAME BINARY LINKAGE: runs it, then checks that a shared
# consumer loads libvendlink.so.2 from the prefix and a static one does not
# load it at all.  Neither may need the C++ runtime.
run_consumer() {
    name=$1 binary=$2 linkage=$3
    LD_LIBRARY_PATH=$libdir "$binary" || fail "$name: consumer checks failed"
    libs=$(needed "$binary")
    if echo "$libs" | grep -q '^libstdc++'; then
        fail "$name: linked with the C++ runtime"
    fi
    case $linkage in
    shared)
        echo "$libs" | grep -qx 'libvendlink.so.2' || fail "$name: does not need libvendlink.so.2"
        loaded=$(LD_LIBRARY_PATH=$libdir ldd "$binary" | sed -n 's/.*libvendlink.so.2 => \([^ ]*\).*/\1/p')
        [ "$loaded" = "$libdir/libvendlink.so.2" ] || fail "$name: libvendlink.so.2 loaded from '$loaded'"
        ;;
    static)
        if echo "$libs" | grep -q '^libvendlink'; then
            fail "$name: linked with the shared library"
        fi
        ;;
    esac
    echo "ok: $name"
}

# pkg-config, as README shows it.
export PKG_CONFIG_PATH=$libdir/pkgconfig
[ "$(pkg-config --variable=prefix vendlink)" = "$prefix" ] || fail "pkg-config prefix is not $prefix"
[ "$(pkg-config --modversion vendlink)" = "$version" ] || fail "pkg-config version is not $version"
cflags=$(pkg-config --cflags vendlink) || fail "pkg-config --cflags"
libs=$(pkg-config --libs vendlink) || fail "pkg-config --libs"
static_libs=$(pkg-config --static --libs vendlink) || fail "pkg-config --static --libs"
# The archive, picked explicitly: -lvendlink alone prefers the shared library.
static_libs=${static_libs/-lvendlink/-Wl,-Bstatic -lvendlink -Wl,-Bdynamic}
src=$here/consumer/consumer.c
# shellcheck disable=SC2086  # the flags are word lists
"${CC:-cc}" $flags -std=c99 -Wall -Wextra -Werror -o "$scratch/pc_shared" "$src" $cflags $libs ||
    fail "pkg-config: build against the shared library"
# shellcheck disable=SC2086
"${CC:-cc}" $flags -std=c99 -Wall -Wextra -Werror -o "$scratch/pc_static" "$src" $cflags $static_libs ||
    fail "pkg-config: build against the archive"
run_consumer pkg-config-shared "$scratch/pc_shared" shared
run_consumer pkg-config-static "$scratch/pc_static" static

# find_package, from a C-only project.
"${CMAKE:-cmake}" -S "$here/consumer" -B "$scratch/cmake" ${CMAKE_GENERATOR:+-G "$CMAKE_GENERATOR"} \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="${CC:-cc}" \
    -DCMAKE_C_FLAGS="$flags -Wall -Wextra -Werror" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
    >"$scratch/cmake.log" 2>&1 || { cat "$scratch/cmake.log" >&2; fail "find_package project: configure"; }
grep -q "vendlink $version from $libdir/cmake/vendlink" "$scratch/cmake.log" ||
    { cat "$scratch/cmake.log" >&2; fail "find_package did not find version $version in the prefix"; }
"${CMAKE:-cmake}" --build "$scratch/cmake" >"$scratch/build.log" 2>&1 ||
    { cat "$scratch/build.log" >&2; fail "find_package project: build"; }
run_consumer cmake-shared "$scratch/cmake/consumer_shared" shared
run_consumer cmake-static "$scratch/cmake/consumer_static" static
