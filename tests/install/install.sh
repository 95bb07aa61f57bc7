#!/bin/bash
# The installed tree as its users meet it: the example connect program built
# against it with pkg-config and with find_package; the
# shared library exporting exactly the map's symbols and needing libc alone;
# the manual pages clean; the Debian package holding it all under /usr.
#   install.sh BUILD_DIR VERSION SOURCE_DIR
set -eu
build=$1 version=$2 source=$3
scratch=$(mktemp -d) && trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
libdir=$(dirname "$(find "$scratch/prefix" -name libvendlink.a)")
export PKG_CONFIG_PATH=$libdir/pkgconfig LD_LIBRARY_PATH=$libdir
[ "$(pkg-config --modversion vendlink)" = "$version" ] || fail "pkg-config version"
read -ra flags <<<"${CONSUMER_FLAGS:-} $(pkg-config --cflags vendlink)"
read -ra shared <<<"$(pkg-config --libs vendlink)"
cc "${flags[@]}" -std=c99 -Wall -Wextra -Werror -o "$scratch/shared" "$source/examples/vendconnect.c" "${shared[@]}"
cat >"$scratch/CMakeLists.txt" <<END
cmake_minimum_required(VERSION 3.22)
project(consumer C)
find_package(vendlink $version EXACT REQUIRED)
add_executable(cmake_shared $source/examples/vendconnect.c)
target_link_libraries(cmake_shared vendlink::vendlink)
END
cmake -S "$scratch" -B "$scratch/cmake" -DCMAKE_PREFIX_PATH="$scratch/prefix" -DCMAKE_C_FLAGS="${CONSUMER_FLAGS:-}" >/dev/null
cmake --build "$scratch/cmake" >/dev/null
for program in shared cmake/cmake_shared; do
    "$scratch/$program" 2>&1 | grep -q '^usage: vendconnect' || fail "$program does not run"
    [ "$(needed "$scratch/$program" | grep -E 'libvendlink|libstdc')" = libvendlink.so.2 ] || fail "$program: libraries"
done

lib=$libdir/libvendlink.so
[ "$(needed "$lib" | grep -v 'san\.so')" = libc.so.6 ] || fail "the library needs more than libc"
nm -D --defined-only "$lib" | awk '$3 != "VENDLINK_2" { print $3 }' | sort >"$scratch/exported"
sed -n 's/^ *\([A-Za-z_][A-Za-z0-9_]*\);.*/\1@@VENDLINK_2/p' "$source/cmake/vendlink.map" | sort >"$scratch/listed"
diff -u "$scratch/listed" "$scratch/exported" || fail "cmake/vendlink.map (-) and the exports (+) differ"

for page in "$source"/man/*.[1-9]; do
    warnings=$(groff -man -ww -z "$page" 2>&1) && [ -z "$warnings" ] || fail "$page: $warnings"
done

cpack --config "$build/CPackConfig.cmake" -B "$scratch/deb" >/dev/null
dpkg-deb -c "$scratch"/deb/*.deb >"$scratch/contents"
for entry in bin/vendhook bin/vendsim include/vendlink/io.h "libvendlink.so.$version" libvendlink.a \
    pkgconfig/vendlink.pc cmake/vendlink/vendlinkConfig.cmake man/man1/vendhook.1 man/man1/vendsim.1; do
    grep -q "\./usr/.*$entry" "$scratch/contents" || fail "the package lacks $entry"
done
echo "ok"
