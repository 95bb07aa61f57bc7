#!/bin/sh
# Reads back from a built program the hardening cmake/Hardening.cmake asks for: PIE, full RELRO,
# the stack protector, stack-clash probes in each unit of ours (GCC records the options in the
# debug information), and with "fortify" (an optimised build without sanitizers) a fortified
# libc call.
#   hardening.sh PROGRAM fortify|nofortify SOURCE_DIR
set -u
program=$1
failed=0
fail() {
    echo "$program: $1" >&2
    failed=1
}
# has OPTION PATTERN MESSAGE: readelf OPTION shows PATTERN, or the check fails with MESSAGE.
has() {
    readelf -W "$1" "$program" | grep -Eq "$2" || fail "$3"
}
has -h '^ *Type: +DYN' "not position-independent"
has -l INTERP "no program interpreter"
has -l GNU_RELRO "no GNU_RELRO segment"
has -d '\(BIND_NOW\)|\(FLAGS(_1)?\).* NOW' "symbols bound lazily"
has --dyn-syms ' __stack_chk_fail' "no stack protector"
if [ "$2" = fortify ]; then
    has --dyn-syms ' __[a-z_]+_chk(@|$)' "no fortified libc call"
fi
unprobed=$(readelf --debug-dump=info "$program" 2>/dev/null | awk -v dir="$3/" '
    /DW_AT_producer/ { producer = $0; next }
    /DW_AT_name/ && producer != "" {
        sub(/.*: /, "")
        if (index($0, dir) == 1 && producer !~ /stack-clash-protection/) print
        producer = ""
    }')
[ -z "$unprobed" ] || fail "built without -fstack-clash-protection: $unprobed"
[ "$failed" -eq 1 ] || echo "$program: hardened"
exit "$failed"
