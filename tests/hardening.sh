#!/bin/sh
# Reads back from a built program the hardening cmake/Hardening.cmake asks
# for: PIE, full RELRO, the stack protector, stack-clash probes in each unit
# of ours (GCC records the options in the debug information), and with
# "fortify" (an optimised build without sanitizers) a fortified libc call.
#   hardening.sh PROGRAM fortify|nofortify SOURCE_DIR
set -u
program=$1 fortify=$2 source_dir=$3 failed=0
fail() { echo "$program: $1" >&2; failed=1; }
readelf -hW "$program" | grep -Eq '^ *Type: +DYN' || fail "not position-independent"
readelf -lW "$program" | grep -q INTERP || fail "no program interpreter"
readelf -lW "$program" | grep -q GNU_RELRO || fail "no GNU_RELRO segment"
readelf -dW "$program" | grep -Eq '\(BIND_NOW\)|\(FLAGS\).* NOW|\(FLAGS_1\).* NOW' || fail "symbols bound lazily"
readelf --dyn-syms -W "$program" | grep -q ' __stack_chk_fail' || fail "no stack protector"
[ "$fortify" = nofortify ] || readelf --dyn-syms -W "$program" | grep -Eq ' __[a-z_]+_chk(@|$)' || fail "no fortified libc call"
unprobed=$(readelf --debug-dump=info "$program" 2>/dev/null | awk -v dir="$source_dir/" '
    /DW_AT_producer/ { producer = $0; next }
    /DW_AT_name/ && producer != "" { sub(/.*: /, ""); if (index($0, dir) == 1 && producer !~ /stack-clash-protection/) print; producer = "" }')
[ -z "$unprobed" ] || fail "built without -fstack-clash-protection: $unprobed"
[ "$failed" -eq 1 ] || echo "$program: hardened"
exit "$failed"
