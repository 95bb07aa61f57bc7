#!/bin/bash
# The installed library and programs as their users meet them, in a scratch folder:
#   install.sh tree BUILD_DIR VERSION      cmake --install
#   install.sh packages [DEBS_DIR]         the Debian packages, built from a copy of the sources
#   install.sh installed                   the installed -dev package (autopkgtest)
set -eu
source=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
needed() {
    readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
}

# The example connect program, built with pkg-config (or as given), runs and needs
# libvendlink.so.2, not the C++ runtime.
example() {
    if [ $# -eq 1 ]; then
        # shellcheck disable=SC2046,SC2086 # the flags, split at blanks
        cc ${CONSUMER_FLAGS:-} $(pkg-config --cflags vendlink) -std=c99 -Wall -Wextra -Werror \
            -o "$1" "$example_source" $(pkg-config --libs vendlink)
    fi
    "$1" 2>&1 | grep -q '^usage: vendconnect' || fail "$1 does not run"
    [ "$(needed "$1" | grep -E 'libvendlink|libstdc')" = libvendlink.so.2 ] || fail "$1: libraries"
}
example_source=$source/examples/vendconnect.c

# The example built with pkg-config and find_package; the library needing libc alone (its
# exports are held to debian/libvendlink2.symbols and abi/ elsewhere); the manual pages clean for
# groff and mandoc; the bash completions.
tree() {
    local build=$1 version=$2 prefix=$scratch/prefix libdir page warnings
    cmake --install "$build" --prefix "$prefix" >/dev/null
    libdir=$(dirname "$(find "$prefix" -name libvendlink.a)")
    export PKG_CONFIG_PATH=$libdir/pkgconfig LD_LIBRARY_PATH=$libdir
    [ "$(pkg-config --modversion vendlink)" = "$version" ] || fail "pkg-config version"
    example "$scratch/pkg-config"
    cat >"$scratch/CMakeLists.txt" <<END
cmake_minimum_required(VERSION 3.22)
project(consumer C)
find_package(vendlink $version EXACT REQUIRED)
add_executable(example $example_source)
target_link_libraries(example vendlink::vendlink)
END
    cmake -S "$scratch" -B "$scratch/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_C_FLAGS="${CONSUMER_FLAGS:-}" >/dev/null
    cmake --build "$scratch/cmake" >/dev/null
    example "$scratch/cmake/example" built
    [ "$(needed "$libdir/libvendlink.so" | grep -v 'san\.so')" = libc.so.6 ] ||
        fail "the library needs more than libc"
    for page in "$source"/man/*.[1-9]; do
        warnings=$(groff -man -ww -z "$page" 2>&1)$(mandoc -Tlint "$page" 2>&1)
        [ -z "$warnings" ] || fail "$page: $warnings"
    done
    bash "$source/tests/install/completion.sh" "$prefix/share/bash-completion/completions" \
        "$prefix/bin/vendsim"
}

# The installed example's whole session against the installed vendsim, as recorded.
installed() {
    example_source=/usr/share/doc/libvendlink-dev/examples/vendconnect.c
    example "$scratch/vendconnect"
    cd "$scratch"
    # shellcheck source=scripts/start-vendsim.sh
    . "$source/scripts/start-vendsim.sh"
    start_vendsim --replay "$source/docs/recorded/connect.log" --link modem \
        --transcript replay.log
    ./vendconnect -Dmodem -MATDT5551234 >out 2>&1 || fail "vendconnect: $(cat out)"
    local receiver='Receiver type 4: "RCV-3000" "SN004711", versions 2.35 1.20 0.45, counts 12 12'
    grep -qx "$receiver" out || fail "$(cat out)"
    wait "$vendsim_pid" ||
        fail "vendsim: not the recorded session: $(grep -E 'expected|got' replay.log)"
}

# Each file in its package, the ldconfig trigger, man 3 vendlink, the example built against the
# -dev package; lintian silent; the .debs kept.
packages() {
    local debs=${1:-$source/build-debs} version lib man completions cmake include package deb
    version=$(dpkg-parsechangelog -l "$source/debian/changelog" -S Version)
    mkdir -p "$debs" "$scratch/src" "$scratch/root"
    git -C "$source" ls-files -co --exclude-standard -z >"$scratch/files"
    tar -C "$source" --null -T "$scratch/files" -cf - | tar -xf - -C "$scratch/src"
    (cd "$scratch/src" && DEB_BUILD_OPTIONS="nocheck noautodbgsym parallel=2" \
        dpkg-buildpackage -us -uc -b) >"$scratch/build.log" 2>&1 ||
        fail "dpkg-buildpackage: $(tail -n 40 "$scratch/build.log")"
    lib=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
    man=usr/share/man
    completions=usr/share/bash-completion/completions
    cmake=$lib/cmake/vendlink/vendlink
    include=usr/include/vendlink
    local -A files=(  # besides each package's changelog.gz and copyright
        [vendhook]="usr/bin/vendhook $man/man1/vendhook.1.gz $completions/vendhook
            usr/share/doc/vendhook/README.md.gz"
        [vendsim]="usr/bin/vendsim $man/man1/vendsim.1.gz $completions/vendsim"
        [libvendlink2]="$lib/libvendlink.so.2 $lib/libvendlink.so.$version"
        [libvendlink-dev]="$include/io.h $include/modem.h $include/semlock.h $include/status.h
            $lib/libvendlink.a $lib/libvendlink.so $lib/pkgconfig/vendlink.pc
            ${cmake}Config.cmake ${cmake}ConfigVersion.cmake ${cmake}Targets.cmake
            ${cmake}Targets-none.cmake $man/man3/vendlink.3.gz
            usr/share/doc/libvendlink-dev/examples/vendconnect.c")
    for package in "${!files[@]}"; do
        deb=$(echo "$scratch/${package}_${version}"_*.deb)
        [ -f "$deb" ] || fail "no package $package"
        # shellcheck disable=SC2086 # the list, split at blanks
        printf '%s\n' ${files[$package]} usr/share/doc/"$package"/{changelog.gz,copyright} |
            sort >"$scratch/expected"
        dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ { sub(/^\.\//, "", $6); print $6 }' | sort |
            diff -u "$scratch/expected" - || fail "$package holds other files than expected (-)"
        dpkg -x "$deb" "$scratch/root"
    done
    cp "$scratch"/*.deb "$debs"
    dpkg-deb -I "$scratch"/libvendlink2_*.deb triggers | grep -qx "activate-noawait ldconfig" ||
        fail "the ldconfig trigger"
    MANPATH=$scratch/root/$man man 3 vendlink | grep -q 'vendlink - serial line' ||
        fail "man 3 vendlink"
    export PKG_CONFIG_SYSROOT_DIR=$scratch/root PKG_CONFIG_LIBDIR=$scratch/root/$lib/pkgconfig
    export LD_LIBRARY_PATH=$scratch/root/$lib
    example "$scratch/example"
    lintian --fail-on error,warning,info,pedantic --info --pedantic "$scratch"/*.deb ||
        fail "lintian"
}

"$@"
