#!/bin/bash
# The installed shared library exports exactly the public interface: the
# functions and variables declared in the installed headers, each under the
# VENDLINK_2 version, and nothing else; its soname is libvendlink.so.2 and it
# needs libc alone.
#
#   exports.sh BUILD_DIR MAP_FILE
# Environment: CMAKE, CC.
set -u
build=$1 map=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"

need nm readelf "${CC:-cc}" "${CMAKE:-cmake}"
make_scratch
prefix=$scratch/prefix
install_tree "$build" "$prefix"
libdir=$(libdir_of "$prefix")
lib=$libdir/libvendlink.so
include=$prefix/include

[ -L "$lib" ] || fail "libvendlink.so is not a link"
[ "$(readlink "$lib")" = libvendlink.so.2 ] || fail "libvendlink.so does not point at libvendlink.so.2"
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = libvendlink.so.2 ] || fail "soname is '$soname'"
needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | grep -v '^lib[a-z]*san\.so' | sort)
[ "$needed" = libc.so.6 ] || fail "needs more than libc: $needed"

# What the headers declare: functions from the compiler's own list of
# prototypes, variables from their extern lines.
printf '#include <vendlink/%s>\n' $(cd "$include/vendlink" && ls) >"$scratch/all.c"
"${CC:-cc}" -I"$include" -aux-info "$scratch/aux" -fsyntax-only "$scratch/all.c" ||
    fail "the installed headers do not compile as C"
grep -F "$include/vendlink/" "$scratch/aux" |
    sed -n 's/.*[ *]\([A-Za-z_][A-Za-z0-9_]*\) (.*/\1/p' >"$scratch/declared"
grep -h '^extern [^(]*;' "$include"/vendlink/*.h |
    sed 's/.*[ *]\([A-Za-z_][A-Za-z0-9_]*\);.*/\1/' >>"$scratch/declared"
sort -u -o "$scratch/declared" "$scratch/declared"
[ "$(wc -l <"$scratch/declared")" -ge 40 ] || fail "too few declarations found: $(cat "$scratch/declared")"

# What the version script lists.
sed 's:/\*.*\*/::' "$map" | tr -d ' ' | grep -E '^[A-Za-z_][A-Za-z0-9_]*;$' | tr -d ';' |
    sort -u >"$scratch/listed"

# What the library exports, and under which version.
nm -D --defined-only "$lib" | awk '{print $3}' | grep -vx 'VENDLINK_2' >"$scratch/exported.raw"
grep -v '@@VENDLINK_2$' "$scratch/exported.raw" && fail "symbols above are not versioned VENDLINK_2"
sed 's/@@VENDLINK_2$//' "$scratch/exported.raw" | sort -u >"$scratch/exported"

diff -u "$scratch/declared" "$scratch/listed" ||
    fail "the public headers (-) and cmake/vendlink.map (+) differ"
diff -u "$scratch/declared" "$scratch/exported" ||
    fail "the public headers (-) and the exports of libvendlink.so (+) differ"
echo "ok: $(wc -l <"$scratch/exported") symbols exported, all public"
