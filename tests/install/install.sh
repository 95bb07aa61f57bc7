#!/bin/bash
# The installed library and programs as their users meet them.
#   install.sh tree BUILD_DIR VERSION SOURCE_DIR: cmake --install into a scratch prefix; the example
#     connect program built against it with pkg-config and with find_package; the library needing
#     libc alone (its exports are held to debian/libvendlink2.symbols and abi/ by the package build
#     and CI); the manual pages clean for groff (and mandoc).
#   install.sh packages VERSION SOURCE_DIR: the Debian packages built from a copy of the sources
#     and unpacked into a scratch root: each file in its package, the ldconfig trigger, man 3
#     vendlink, the example built against the -dev package; lintian silent, when it is there; the
#     .debs kept in DEBS_OUT if set.
#   install.sh installed SOURCE_DIR (autopkgtest): the installed example's session, as recorded.
set -eu
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

if [ "$1" = tree ]; then
    build=$2 version=$3 source=$4
    cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
    libdir=$(dirname "$(find "$scratch/prefix" -name libvendlink.a)")
    export PKG_CONFIG_PATH=$libdir/pkgconfig LD_LIBRARY_PATH=$libdir
    [ "$(pkg-config --modversion vendlink)" = "$version" ] || fail "pkg-config version"
    example "$scratch/pkg-config"
    printf '%s\n' "cmake_minimum_required(VERSION 3.22)" "project(consumer C)" "find_package(vendlink $version EXACT REQUIRED)" \
        "add_executable(example $source/examples/vendconnect.c)" "target_link_libraries(example vendlink::vendlink)" >"$scratch/CMakeLists.txt"
    cmake -S "$scratch" -B "$scratch/cmake" -DCMAKE_PREFIX_PATH="$scratch/prefix" -DCMAKE_C_FLAGS="${CONSUMER_FLAGS:-}" >/dev/null
    cmake --build "$scratch/cmake" >/dev/null
    example "$scratch/cmake/example" built

    [ "$(needed "$libdir/libvendlink.so" | grep -v 'san\.so')" = libc.so.6 ] || fail "the library needs more than libc"
    for page in "$source"/man/*.[1-9]; do
        warnings=$(groff -man -ww -z "$page" 2>&1; ! command -v mandoc >/dev/null || mandoc -Tlint "$page" 2>&1)
        [ -z "$warnings" ] || fail "$page: $warnings"
    done
    exit 0
fi

if [ "$1" = installed ]; then
    source=/usr/share/doc/libvendlink-dev && example "$scratch/vendconnect" && cd "$scratch"
    vendsim --replay "$2/docs/recorded/connect.log" --link modem --transcript replay.log >/dev/null &
    until [ -L modem ] || ! kill -0 $! 2>/dev/null; do sleep 0.05; done
    ./vendconnect -Dmodem -MATDT5551234 >out 2>&1 || fail "vendconnect: $(cat out)"
    grep -qx 'Receiver type 4: "RCV-3000" "SN004711", versions 2.35 1.20 0.45, counts 12 12' out || fail "$(cat out)"
    wait $! && exit 0
    fail "vendsim: not the recorded session: $(grep -E 'expected|got' replay.log)"
fi

version=$2 source=$3
mkdir "$scratch/src" "$scratch/root"
(cd "$source" && git ls-files -co --exclude-standard -z | tar --null -T - -cf -) | tar -xf - -C "$scratch/src"
(cd "$scratch/src" && DEB_BUILD_OPTIONS="nocheck noautodbgsym parallel=2" dpkg-buildpackage -us -uc -b) \
    >"$scratch/build.log" 2>&1 || { tail -n 40 "$scratch/build.log"; fail "dpkg-buildpackage"; }
lib=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH) man=usr/share/man completions=usr/share/bash-completion/completions
cmake=$lib/cmake/vendlink/vendlink include=usr/include/vendlink
declare -A files=(  # besides each package's changelog.gz and copyright
    [vendhook]="usr/bin/vendhook $man/man1/vendhook.1.gz usr/share/doc/vendhook/README.md.gz $completions/vendhook"
    [vendsim]="usr/bin/vendsim $man/man1/vendsim.1.gz $completions/vendsim"
    [libvendlink2]="$lib/libvendlink.so.2 $lib/libvendlink.so.$version"
    [libvendlink-dev]="$include/io.h $include/modem.h $include/semlock.h $include/status.h $lib/libvendlink.a $lib/libvendlink.so
        $lib/pkgconfig/vendlink.pc ${cmake}Config.cmake ${cmake}ConfigVersion.cmake ${cmake}Targets.cmake ${cmake}Targets-none.cmake
        $man/man3/vendlink.3.gz usr/share/doc/libvendlink-dev/examples/vendconnect.c")
for package in "${!files[@]}"; do
    deb=$(echo "$scratch/${package}_${version}"_*.deb)
    [ -f "$deb" ] || fail "no package $package"
    # shellcheck disable=SC2086 # the list, split at blanks
    diff -u <(printf '%s\n' ${files[$package]} "usr/share/doc/$package/changelog.gz" "usr/share/doc/$package/copyright" | sort) \
        <(dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ { sub(/^\.\//, "", $6); print $6 }' | sort) || fail "$package holds other files than expected (-)"
    dpkg -x "$deb" "$scratch/root"
done
[ -z "${DEBS_OUT:-}" ] || cp "$scratch"/*.deb "$DEBS_OUT"
dpkg-deb -I "$scratch"/libvendlink2_*.deb triggers | grep -qx "activate-noawait ldconfig" || fail "the ldconfig trigger"
MANPATH=$scratch/root/$man man 3 vendlink | grep -q 'vendlink - serial line' || fail "man 3 vendlink"
export PKG_CONFIG_SYSROOT_DIR=$scratch/root PKG_CONFIG_LIBDIR=$scratch/root/$lib/pkgconfig LD_LIBRARY_PATH=$scratch/root/$lib
example "$scratch/example"
command -v lintian >/dev/null || { echo "lintian is not installed: the packages were not linted"; exit 0; }
lintian --fail-on error,warning,info,pedantic --info --pedantic "$scratch"/*.deb || fail "lintian"
