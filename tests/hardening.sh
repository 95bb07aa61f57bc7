#!/bin/sh
# hardening.sh PROGRAM FORTIFIED SOURCE_DIR: the hardening of cmake/Hardening.cmake, read back:
# PIE, full RELRO, the stack protector, stack-clash probes in each unit of ours (GCC records its
# options in the debug information), a fortified libc call unless FORTIFIED is 0.
set -u
program=$1
failed=0
fail() {
    echo "$program: $1" >&2
    failed=1
}
has() {
    readelf -W "$1" "$program" | grep -Eq "$2" || fail "$3"
}
has -h '^ *Type: +DYN' "not position-independent"
has -l INTERP "no program interpreter"
has -l GNU_RELRO "no GNU_RELRO segment"
has -d '\(BIND_NOW\)|\(FLAGS(_1)?\).* NOW' "symbols bound lazily"
has --dyn-syms ' __stack_chk_fail' "no stack protector"
[ "$2" = 0 ] || has --dyn-syms ' __[a-z_]+_chk(@|$)' "no fortified libc call"
unprobed=$(readelf --debug-dump=info "$program" 2>/dev/null | awk -v dir=": $3/" '
    /DW_AT_producer/ { probed = /stack-clash-protection/ }
    /DW_AT_name/ && !probed && index($0, dir)')
[ -z "$unprobed" ] || fail "built without -fstack-clash-protection: $unprobed"
exit "$failed"
