#!/bin/bash
# Builds the Debian package from the build tree into a scratch directory and
# looks inside: the programs, both libraries with the shared library's
# links, the headers, the manual pages, the pkg-config file (naming /usr)
# and the CMake package; the control fields and the shlibs file.
#
#   deb.sh BUILD_DIR VERSION
# Environment: CPACK.
set -u
build=$1 version=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"

need dpkg-deb dpkg-shlibdeps tar nm "${CPACK:-cpack}"
make_scratch
"${CPACK:-cpack}" --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack"; }
debs=("$scratch"/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, found: ${debs[*]}"
deb=${debs[0]}

dpkg-deb -c "$deb" >"$scratch/contents" || fail "dpkg-deb -c"
# Each line: a regular expression the name (and link target) of one entry
# must match.  The library directory is lib or lib/<multiarch>.
lib='\./usr/lib(/[a-z0-9_-]+)?'
expected=(
    "\./usr/bin/vendhook$"
    "\./usr/bin/vendsim$"
    "$lib/libvendlink\.a$"
    "$lib/libvendlink\.so\.$version$"
    "$lib/libvendlink\.so\.2 -> libvendlink\.so\.$version$"
    "$lib/libvendlink\.so -> libvendlink\.so\.2$"
    "\./usr/include/vendlink/io\.h$"
    "\./usr/include/vendlink/modem\.h$"
    "\./usr/include/vendlink/semlock\.h$"
    "\./usr/include/vendlink/status\.h$"
    "\./usr/share/man/man1/vendhook\.1(\.gz)?$"
    "\./usr/share/man/man1/vendsim\.1(\.gz)?$"
    "$lib/pkgconfig/vendlink\.pc$"
    "$lib/cmake/vendlink/vendlinkConfig\.cmake$"
    "$lib/cmake/vendlink/vendlinkConfigVersion\.cmake$"
    "$lib/cmake/vendlink/vendlinkTargets\.cmake$"
)
for pattern in "${expected[@]}"; do
    grep -Eq " $pattern" "$scratch/contents" || { cat "$scratch/contents" >&2; fail "no entry matching $pattern"; }
done

field() {
    dpkg-deb -f "$deb" "$1" || fail "dpkg-deb -f $1"
}
[ "$(field Package)" = vendhook ] || fail "package name is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "version is '$(field Version)'"
[ "$(field Maintainer)" = "vendhook maintainers <maintainers@users.noreply.example>" ] ||
    fail "maintainer is '$(field Maintainer)'"
field Depends | grep -Eq '(^|, )libc6( |,|$)' || fail "Depends lacks libc6: $(field Depends)"

# The pkg-config file names where the package puts things, not the staging tree.
pc=$(grep -Eo "$lib/pkgconfig/vendlink\.pc" "$scratch/contents")
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "$pc" >"$scratch/vendlink.pc" || fail "cannot read $pc"
grep -qx 'prefix=/usr' "$scratch/vendlink.pc" || { cat "$scratch/vendlink.pc" >&2; fail "vendlink.pc does not name /usr"; }

# Stripping the package must leave the archive's symbols, or it links nothing.
archive=$(grep -Eo "$lib/libvendlink\.a" "$scratch/contents")
dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "$archive" >"$scratch/libvendlink.a" || fail "cannot read $archive"
nm -g --defined-only "$scratch/libvendlink.a" 2>/dev/null | grep -q ' T send_msg$' ||
    fail "the packaged archive has lost its symbols"

dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - ./shlibs >"$scratch/shlibs" || fail "no shlibs file"
grep -qx "libvendlink 2 vendhook (>= $version)" "$scratch/shlibs" ||
    { cat "$scratch/shlibs" >&2; fail "shlibs does not declare libvendlink 2"; }
echo "ok: $(basename "$deb"), $(wc -l <"$scratch/contents") entries"
