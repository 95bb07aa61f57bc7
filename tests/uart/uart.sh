#!/bin/bash
# vendhook and the connect program on Linux's real serial driver: a QEMU guest's 16550A
# UARTs under Debian's kernel.  ttyS1 reaches a vendsim through a socket (CTS high: a modem
# that is on), ttyS2 another through QEMU's serial backend on its pty (CTS low: a modem that
# is off).  One boot runs guest.sh's table; its reports and what each vendsim got are checked.
#   uart.sh BUILD_DIR        (the kernel is kept in BUILD_DIR/uart; status 77: QEMU cannot run here)
set -eu
here=$(cd "$(dirname "$0")" && pwd) build=$(cd "$1" && pwd) failed=0
work=$(mktemp -d) && trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; failed=1; }
for tool in qemu-system-x86_64 busybox socat; do
    command -v "$tool" >/dev/null || { echo "QEMU cannot run here: no $tool"; exit 77; }
done
cache=$build/uart && mkdir -p "$cache"
if [ ! -s "$cache/vmlinuz" ]; then  # Debian's kernel, the one linux-image-amd64 names
    image=$(apt-cache depends linux-image-amd64 | sed -n 's/.*Depends: \(linux-image-[0-9].*\)/\1/p' | head -n 1)
    (cd "$cache" && apt-get download "$image" >/dev/null 2>&1) || { echo "QEMU cannot run here: no kernel"; exit 77; }
    dpkg-deb --fsys-tarfile "$cache/$image"_*.deb | tar -xO --wildcards './boot/vmlinuz-*' >"$cache/vmlinuz"
fi

root=$work/root && mkdir -p "$root/bin" && cp "$(command -v busybox)" "$root/bin" && ln -s busybox "$root/bin/sh"
install -m 755 "$here/guest.sh" "$root/init"
for program in "$build/src/vendhook" "$build/examples/vendconnect"; do
    cp "$program" "$root/bin/"
    for lib in $(ldd "$program" | grep -o '/[^ ]*'); do mkdir -p "$root${lib%/*}" && cp -L "$lib" "$root$lib"; done
done
(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null | gzip) >"$work/initrd.gz"
for line in high low; do
    "$build/tools/vendsim/vendsim" --link "$work/$line" --transcript "$work/$line.log" --max-time 300 >/dev/null &
done
socat UNIX-LISTEN:"$work/high.sock" FILE:"$work/high",raw,echo=0 &
for _ in $(seq 50); do [ -S "$work/high.sock" ] && [ -L "$work/low" ] && break; sleep 0.1; done
timeout 300 qemu-system-x86_64 -accel tcg -m 256 -display none -monitor none -no-reboot -kernel "$cache/vmlinuz" \
    -initrd "$work/initrd.gz" -append "console=ttyS0 quiet panic=-1" -serial stdio -serial chardev:high \
    -chardev socket,id=high,path="$work/high.sock" -serial chardev:low -chardev serial,id=low,path="$(readlink -f "$work/low")" \
    </dev/null | tr -d '\r' >"$work/console" || { cat "$work/console"; echo "QEMU cannot run here"; exit 77; }
grep -q '^=== end' "$work/console" || { cat "$work/console"; echo "FAIL: the guest did not finish" >&2; exit 1; }

# NAME STATUS WALL FLOW-BEFORE DTR-SPEED-PARITY [vendhook's: SPEED PARITY PORT FLOW-AFTER LAST-LINE]
check() {
    local report expected
    report=$(sed -n "/^=== $1 /,/^===/p" "$work/console" | sed '$d')
    if [ "$1" = connect ]; then
        expected=("Could not find \"serial_port\", creating..." "Storing new device file name (/dev/ttyS1)."
            "RTSXOFF is $4" "CTSXON is $4" "RTSXOFF is now ENABLED." "Port initialized (9600 baud, 8 data bits, Odd, 1 stop bit)"
            "Using defaults for all modem strings." "Initializing modem..." "Dialing..." "" "ATDT5551234" "" ""
            "CONNECT 9600" "Testing communications link...wait." "Testing receiver configuration" "" "Disconnecting modem..."
            "Done.")
    else
        expected=("Orvanta-RC REMOTE CONTROL, v2.35 SPARC  (20 DEC 1999)" "Copyright (c) 1996-1999 Orvanta.  All rights reserved."
            "/bin/vendhook, 2.9" "Could not find \"serial_port\", creating..." "Storing new device file name (/dev/${8:-ttyS1})."
            "RTSXOFF is $4" "CTSXON is $4" "RTSXOFF is now ${9:-ENABLED}." "Port initialized (${6:-9600} baud, 8 data bits, ${7:-Odd}, 1 stop bit)"
            "Using defaults for all modem strings." "" "Disconnecting modem..." ${10:+"${10}"} "Done.")
    fi
    read -r _ _ status wall <<<"$(head -n 1 <<<"$report")"
    if [ "$status" != "$2" ] || ! awk "BEGIN { exit !($wall > $3 - 0.5 && $wall < $3 + 0.5) }"; then
        fail "$1: status $status, $wall s"
    fi
    diff <(printf 'err: %s\n' "${expected[@]}"; [ "$1" != connect ] || echo "out: Receiver type 4: \"RCV-3000\" \"SN004711\"," \
        "versions 2.35 1.20 0.45, counts 12 12"; echo "dtr: $5") <(tail -n +2 <<<"$report") >&2 || fail "$1: the report (-: expected)"
    echo "$1: status $status, $wall s in the guest"
}
held="The modem did not take the hang-up string (flow control is holding it: is the modem on, and the cable wired for RTS/CTS?)."
check hangup 0 4.5 Disabled "high 9600 parenb parodd"
check flow-control-off 0 4.5 Enabled "high 9600 parenb parodd" "" "" "" DISABLED
check 19200-even 0 4.5 Disabled "high 19200 parenb -parodd" 19200 Even
check dropdtr 0 4.5 Enabled "low 9600 parenb parodd"
check cts-low 0 10.5 Disabled "high 9600 parenb parodd" "" "" ttyS2 "" "$held"
check cts-low-dropdtr 0 10.5 Enabled "low 9600 parenb parodd" "" "" ttyS2 "" "$held"
check connect 0 7.5 Enabled "high 9600 parenb parodd"

# What each vendsim got: through ttyS1 four hang-ups, then the session byte for byte as
# on a pty (docs/recorded; its link test echoes 0x00-0x2c); nothing through ttyS2.
received() { sed -n 's/^ *[0-9.]* *host-> *\(.*\)  |.*/\1/p' "$1" | tr -d '\n '; }
hangup=$(printf '+++ATH\r' | od -An -tx1 | tr -d ' \n')
[ "$(received "$work/high.log")" = "$hangup$hangup$hangup$hangup$(received "$here/../../docs/recorded/connect.log")" ] ||
    fail "ttyS1's vendsim got $(received "$work/high.log")"
[ -z "$(received "$work/low.log")" ] || fail "ttyS2's vendsim got $(received "$work/low.log")"
exit "$failed"
