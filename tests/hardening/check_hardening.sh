#!/bin/sh
# Reads back from a built program the hardening cmake/Hardening.cmake asks
# for, and fails naming each piece that is missing.
#   check_hardening.sh PROGRAM fortify|nofortify
# PIE: an ELF of type DYN with a program interpreter.  Full RELRO: a
# GNU_RELRO segment and immediate binding (BIND_NOW, or NOW in FLAGS or
# FLAGS_1).  Stack protector: a reference to __stack_chk_fail.  Fortified
# calls (only where the build optimises and has no sanitizer): a reference
# to at least one __*_chk function.  Stack-clash probes: the options GCC
# records in the debug information, when the build has it.
set -u
program=$1
fortify=$2
failed=0

fail() {
    echo "$program: $1" >&2
    failed=1
}

if ! command -v readelf >/dev/null 2>&1; then
    echo "readelf not found (binutils)" >&2
    exit 1
fi
if [ ! -f "$program" ]; then
    echo "$program: no such file" >&2
    exit 1
fi

header=$(readelf -hW "$program") || exit 1
segments=$(readelf -lW "$program") || exit 1
dynamic=$(readelf -dW "$program") || exit 1
symbols=$(readelf --dyn-syms -W "$program") || exit 1

echo "$header" | grep -Eq '^ *Type: +DYN' || fail "not position-independent (ELF type is not DYN)"
echo "$segments" | grep -q 'INTERP' || fail "no program interpreter: a shared library, not a program"
echo "$segments" | grep -q 'GNU_RELRO' || fail "no GNU_RELRO segment (-z relro)"
echo "$dynamic" | grep -Eq '\(BIND_NOW\)|\(FLAGS\).* NOW|\(FLAGS_1\).* NOW' ||
    fail "symbols bound lazily: no BIND_NOW or NOW flag (-z now)"
echo "$symbols" | grep -q ' __stack_chk_fail' ||
    fail "no reference to __stack_chk_fail (-fstack-protector-strong)"
# Stack-clash probes leave no mark of their own in the binary, but GCC
# records each unit's options in its debug information: where that is
# present, every unit must have been built with the probes.
producers=$(readelf --debug-dump=info "$program" 2>/dev/null | grep 'DW_AT_producer' | grep -v 'GNU AS')
if [ -n "$producers" ]; then
    if echo "$producers" | grep -v -q -e '-fstack-clash-protection'; then
        fail "a unit built without -fstack-clash-protection"
    fi
    clash=', stack-clash probes'
else
    clash=''
fi
if [ "$fortify" = fortify ]; then
    echo "$symbols" | grep -Eq ' __[a-z_]+_chk(@|$)' ||
        fail "no fortified libc call (__*_chk) referenced (-D_FORTIFY_SOURCE=2)"
fi

if [ "$failed" -eq 0 ]; then
    echo "$program: PIE, full RELRO, stack protector$clash$([ "$fortify" = fortify ] && echo ', fortified calls')"
fi
exit "$failed"
