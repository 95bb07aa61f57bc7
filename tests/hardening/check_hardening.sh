#!/bin/sh
# Reads back from a built program the hardening cmake/Hardening.cmake asks
# for, and fails naming each piece that is missing.
#   check_hardening.sh PROGRAM fortify|nofortify SOURCE_DIR
# PIE: an ELF of type DYN with a program interpreter.  Full RELRO: a
# GNU_RELRO segment and immediate binding (BIND_NOW, or NOW in FLAGS or
# FLAGS_1).  Stack protector: a reference to __stack_chk_fail.  Fortified
# calls (only where the build optimises and has no sanitizer): a reference
# to at least one __*_chk function.  Stack-clash probes: the options GCC
# records in the debug information, when the build has it.
set -u
program=$1
fortify=$2
source_dir=$3
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
# present, every unit compiled from the sources under SOURCE_DIR must have
# been built with the probes (units of the toolchain, such as a sanitizer's
# start-up object, are not ours to judge).
units=$(readelf --debug-dump=info "$program" 2>/dev/null | awk '
    /DW_AT_producer/ { producer = $0; next }
    /DW_AT_name/ && producer != "" { sub(/.*: /, ""); print $0 "\t" producer; producer = "" }')
ours=$(printf '%s\n' "$units" | awk -F '\t' -v dir="$source_dir/" 'index($1, dir) == 1')
clash=''
if [ -n "$ours" ]; then
    missing=$(printf '%s\n' "$ours" | grep -v -e '-fstack-clash-protection' | cut -f 1)
    for unit in $missing; do
        fail "$unit built without -fstack-clash-protection"
    done
    clash=', stack-clash probes'
fi
if [ "$fortify" = fortify ]; then
    echo "$symbols" | grep -Eq ' __[a-z_]+_chk(@|$)' ||
        fail "no fortified libc call (__*_chk) referenced (-D_FORTIFY_SOURCE=2)"
fi

if [ "$failed" -eq 0 ]; then
    echo "$program: PIE, full RELRO, stack protector$clash$([ "$fortify" = fortify ] && echo ', fortified calls')"
fi
exit "$failed"
