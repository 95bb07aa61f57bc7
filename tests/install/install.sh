#!/bin/bash
# install.sh tree BUILD_DIR VERSION | packages [DEBS_DIR] | installed: the library and programs as
# their users meet them after cmake --install, as Debian packages, as installed (autopkgtest).
set -eu
source=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
udev_rules=/run/udev/rules.d/99-vendhook-check-$$.rules  # as root, the udev rule under check
trap 'rm -rf "$scratch" "$udev_rules"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
needed() {
    readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
}

# example PROGRAM [SOURCE]: the example, built from SOURCE with pkg-config, runs and needs
# libvendlink.so.2, not the C++ runtime.
example() {
    # shellcheck disable=SC2046,SC2086 # the flags, split at blanks
    [ $# -eq 1 ] || cc ${CONSUMER_FLAGS:-} $(pkg-config --cflags vendlink) -std=c99 -Wall -Wextra \
        -Werror -o "$1" "$2" $(pkg-config --libs vendlink)
    "$1" 2>&1 | grep -q '^usage: vendconnect' || fail "$1 does not run"
    [ "$(needed "$1" | grep -E 'libvendlink|libstdc')" = libvendlink.so.2 ] || fail "$1: libraries"
}

# The example built with pkg-config and find_package; the library needing libc alone (its exports
# are held to debian/libvendlink2.symbols and abi/); the manual pages; the bash completions; the
# udev rule.
tree() {
    local build=$1 version=$2 prefix=$scratch/prefix libdir page warnings
    cmake --install "$build" --prefix "$prefix" >/dev/null
    libdir=$(dirname "$(find "$prefix" -name libvendlink.a)")
    export PKG_CONFIG_PATH=$libdir/pkgconfig LD_LIBRARY_PATH=$libdir
    [ "$(pkg-config --modversion vendlink)" = "$version" ] || fail "pkg-config version"
    example "$scratch/pkg-config" "$source/examples/vendconnect.c"
    cmake -S "$source/tests/install/consumer" -B "$scratch/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
        -DVERSION="$version" -DCMAKE_C_FLAGS="${CONSUMER_FLAGS:-}" >/dev/null
    cmake --build "$scratch/cmake" >/dev/null
    example "$scratch/cmake/example"
    [ "$(needed "$libdir/libvendlink.so" | grep -v 'san\.so')" = libc.so.6 ] ||
        fail "the library needs more than libc"
    for page in "$source"/man/*.[1-9]; do
        warnings=$(groff -man -ww -z "$page" 2>&1)$(mandoc -Tlint "$page" 2>&1)
        [ -z "$warnings" ] || fail "$page: $warnings"
    done
    bash "$source/tests/install/completion.sh" "$prefix"
    udev_rule
}

# The udev example read by udev's own parser (this udevadm has no verify), which reads rules only
# from the system's folders: as root alone.
udev_rule() {
    local complaints
    if [ "$(id -u)" != 0 ] || ! command -v udevadm >/dev/null; then
        echo "the udev rule is not checked: that takes root and udevadm" >&2
        return
    fi
    mkdir -p /run/udev/rules.d
    cp "$source/docs/udev/99-vendhook-modem.rules" "$udev_rules"
    complaints=$(udevadm test /sys/class/tty/tty 2>&1 | grep -F "$udev_rules:" || :)
    [ -z "$complaints" ] || fail "the udev rule: $complaints"
}

# The installed example's whole session against the installed vendsim, as recorded.
installed() {
    example "$scratch/vendconnect" /usr/share/doc/libvendlink-dev/examples/vendconnect.c
    cd "$scratch"
    # shellcheck source=scripts/start-vendsim.sh
    . "$source/scripts/start-vendsim.sh"
    start_vendsim --replay "$source/docs/recorded/connect.log" --link modem --transcript replay.log
    ./vendconnect -Dmodem -MATDT5551234 >out 2>&1 || fail "vendconnect: $(cat out)"
    local receiver='Receiver type 4: "RCV-3000" "SN004711", versions 2.35 1.20 0.45, counts 12 12'
    grep -qx "$receiver" out || fail "$(cat out)"
    wait "$vendsim_pid" ||
        fail "vendsim: not the recorded session: $(grep -E 'expected|got' replay.log)"
}

# Each file in its package, the ldconfig trigger, man 3 vendlink, the example; lintian; .debs kept.
packages() {
    local debs=${1:-$source/build-debs} man=usr/share/man doc=usr/share/doc version lib name deb
    local completions=usr/share/bash-completion/completions include=usr/include/vendlink
    version=$(dpkg-parsechangelog -l "$source/debian/changelog" -S Version)
    mkdir -p "$debs" "$scratch/src" "$scratch/root"
    git -C "$source" ls-files -co --exclude-standard -z >"$scratch/files"
    tar -C "$source" --null -T "$scratch/files" -cf - | tar -xf - -C "$scratch/src"
    (cd "$scratch/src" && DEB_BUILD_OPTIONS="nocheck noautodbgsym parallel=2" \
        dpkg-buildpackage -us -uc -b) >"$scratch/build.log" 2>&1 ||
        fail "dpkg-buildpackage: $(tail -n 40 "$scratch/build.log")"
    lib=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
    local -A files  # besides each package's changelog.gz and copyright
    files[vendhook]="usr/bin/vendhook $man/man1/vendhook.1.gz $completions/vendhook
        $doc/vendhook/README.md.gz"
    files[vendsim]="usr/bin/vendsim $man/man1/vendsim.1.gz $completions/vendsim"
    files[libvendlink2]=$(echo "$lib"/libvendlink.so.{2,"$version"})
    files[libvendlink-dev]=$(echo "$include"/{io,modem,semlock,status}.h \
        "$lib"/cmake/vendlink/vendlink{Config,ConfigVersion,Targets,Targets-none}.cmake \
        "$man/man3/vendlink.3.gz" "$lib/pkgconfig/vendlink.pc" "$lib"/libvendlink.{a,so} \
        "$doc/libvendlink-dev/examples/vendconnect.c")
    for name in "${!files[@]}"; do
        deb=$(echo "$scratch/${name}_${version}"_*.deb)
        # shellcheck disable=SC2086 # the list, split at blanks
        diff -u <(printf '%s\n' ${files[$name]} "$doc/$name"/{changelog.gz,copyright} | sort) \
            <(dpkg-deb -c "$deb" | awk '$6 !~ /\/$/ { sub(/^\.\//, "", $6); print $6 }' | sort) ||
            fail "$name holds other files than expected (-)"
        dpkg -x "$deb" "$scratch/root"
    done
    cp "$scratch"/*.deb "$debs"
    dpkg-deb -I "$scratch"/libvendlink2_*.deb triggers | grep -qx "activate-noawait ldconfig" ||
        fail "the ldconfig trigger"
    MANPATH=$scratch/root/$man man 3 vendlink | grep -q 'vendlink - serial line' ||
        fail "man 3 vendlink"
    export PKG_CONFIG_SYSROOT_DIR=$scratch/root PKG_CONFIG_LIBDIR=$scratch/root/$lib/pkgconfig
    export LD_LIBRARY_PATH=$scratch/root/$lib
    example "$scratch/example" "$source/examples/vendconnect.c"
    lintian --fail-on error,warning,info,pedantic -I --pedantic "$scratch"/*.deb || fail lintian
}

"$@"
