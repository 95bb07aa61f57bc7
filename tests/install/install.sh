#!/bin/bash
# The installed library and programs as their users meet them.
#   install.sh tree BUILD_DIR VERSION SOURCE_DIR: cmake --install into a scratch
#     prefix; the example connect program built against it with pkg-config and
#     with find_package; the library exporting exactly the map's symbols and
#     needing libc alone; the manual pages clean for groff (and mandoc).
#   install.sh packages VERSION SOURCE_DIR: the Debian packages built from a
#     copy of the sources and unpacked into a scratch root: each file in its
#     package, the ldconfig trigger, man 3 vendlink, the example built against
#     the -dev package; lintian without an error or a warning, when it is there.
set -eu
mode=$1
scratch=$(mktemp -d) && trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }

# The example built with pkg-config (or as given) runs and needs libvendlink.so.2, not the C++ runtime.
example() {
    # shellcheck disable=SC2046,SC2086
    [ $# -gt 1 ] || cc ${CONSUMER_FLAGS:-} $(pkg-config --cflags vendlink) -std=c99 -Wall -Wextra -Werror -o "$1" \
        "$source/examples/vendconnect.c" $(pkg-config --libs vendlink)
    "$1" 2>&1 | grep -q '^usage: vendconnect' || fail "$1 does not run"
    [ "$(needed "$1" | grep -E 'libvendlink|libstdc')" = libvendlink.so.2 ] || fail "$1: libraries"
}

if [ "$mode" = tree ]; then
    build=$2 version=$3 source=$4
    cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
    libdir=$(dirname "$(find "$scratch/prefix" -name libvendlink.a)")
    export PKG_CONFIG_PATH=$libdir/pkgconfig LD_LIBRARY_PATH=$libdir
    [ "$(pkg-config --modversion vendlink)" = "$version" ] || fail "pkg-config version"
    example "$scratch/pkg-config"
    printf 'cmake_minimum_required(VERSION 3.22)\nproject(consumer C)\nfind_package(vendlink %s EXACT REQUIRED)\n%s\n%s\n' \
        "$version" "add_executable(example $source/examples/vendconnect.c)" "target_link_libraries(example vendlink::vendlink)" \
        >"$scratch/CMakeLists.txt"
    cmake -S "$scratch" -B "$scratch/cmake" -DCMAKE_PREFIX_PATH="$scratch/prefix" -DCMAKE_C_FLAGS="${CONSUMER_FLAGS:-}" >/dev/null
    cmake --build "$scratch/cmake" >/dev/null
    example "$scratch/cmake/example" built

    lib=$libdir/libvendlink.so
    [ "$(needed "$lib" | grep -v 'san\.so')" = libc.so.6 ] || fail "the library needs more than libc"
    nm -D --defined-only "$lib" | awk '$3 != "VENDLINK_2" { print $3 }' | sort >"$scratch/exported"
    sed -n 's/^ *\([A-Za-z_][A-Za-z0-9_]*\);.*/\1@@VENDLINK_2/p' "$source/cmake/vendlink.map" | sort >"$scratch/listed"
    diff -u "$scratch/listed" "$scratch/exported" || fail "cmake/vendlink.map (-) and the exports (+) differ"
    for page in "$source"/man/*.[1-9]; do
        warnings=$(groff -man -ww -z "$page" 2>&1; ! command -v mandoc >/dev/null || mandoc -Tlint "$page" 2>&1)
        [ -z "$warnings" ] || fail "$page: $warnings"
    done
    exit 0
fi

version=$2 source=$3
mkdir "$scratch/src" "$scratch/root"
(cd "$source" && git ls-files -z | tar --null -T - -cf -) | tar -xf - -C "$scratch/src"
(cd "$scratch/src" && DEB_BUILD_OPTIONS="nocheck noautodbgsym parallel=2" dpkg-buildpackage -us -uc -b) \
    >"$scratch/build.log" 2>&1 || { tail -n 40 "$scratch/build.log"; fail "dpkg-buildpackage"; }
arch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
lib=usr/lib/$arch
declare -A files=(  # besides each package's changelog.gz and copyright
    [vendhook]="usr/bin/vendhook usr/share/man/man1/vendhook.1.gz usr/share/doc/vendhook/README.md.gz"
    [vendsim]="usr/bin/vendsim usr/share/man/man1/vendsim.1.gz"
    [libvendlink2]="$lib/libvendlink.so.2 $lib/libvendlink.so.$version"
    [libvendlink-dev]="usr/include/vendlink/io.h usr/include/vendlink/modem.h usr/include/vendlink/semlock.h
        usr/include/vendlink/status.h $lib/libvendlink.a $lib/libvendlink.so $lib/pkgconfig/vendlink.pc
        $lib/cmake/vendlink/vendlinkConfig.cmake $lib/cmake/vendlink/vendlinkConfigVersion.cmake
        $lib/cmake/vendlink/vendlinkTargets.cmake $lib/cmake/vendlink/vendlinkTargets-none.cmake
        usr/share/man/man3/vendlink.3.gz usr/share/doc/libvendlink-dev/examples/vendconnect.c")
for package in "${!files[@]}"; do
    files[$package]+=" usr/share/doc/$package/changelog.gz usr/share/doc/$package/copyright"
    deb=$(echo "$scratch/${package}_${version}"_*.deb)
    [ -f "$deb" ] || fail "no package $package"
    dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ { sub(/^\.\//, "", $6); print $6 }' | sort >"$scratch/got"
    tr -s ' \n' '\n' <<<"${files[$package]}" | grep . | sort >"$scratch/expected"
    diff -u "$scratch/expected" "$scratch/got" || fail "$package holds other files than expected (-) "
    dpkg -x "$deb" "$scratch/root"
done
dpkg-deb -I "$scratch"/libvendlink2_*.deb triggers | grep -qx "activate-noawait ldconfig" || fail "the ldconfig trigger"
MANPATH=$scratch/root/usr/share/man man 3 vendlink | grep -q 'vendlink - serial line' || fail "man 3 vendlink"
export PKG_CONFIG_SYSROOT_DIR=$scratch/root PKG_CONFIG_LIBDIR=$scratch/root/$lib/pkgconfig LD_LIBRARY_PATH=$scratch/root/$lib
example "$scratch/example"
command -v lintian >/dev/null || { echo "lintian is not installed: the packages were not linted"; exit 0; }
lintian --fail-on error,warning --info "$scratch"/*.deb || fail "lintian"
