#!/bin/bash
# vendhook and the connect program on three of Linux's serial drivers, in a QEMU guest under
# Debian's kernel.  ttyS1 (8250 UART) and ttyUSB0 (ftdi_sio, an emulated FTDI adapter) reach
# a vendsim through a socket (CTS high: a modem that is on), ttyS2 another through QEMU's serial
# backend on its pty (CTS low: a modem that is off); ttyACM0 (cdc-acm) is the guest's own USB
# ACM function (dummy_hcd, g_serial), whose far end, ttyGS0, a vendsim --port serves in the
# guest.  One boot runs guest.sh's table; its reports and what each vendsim got are checked.
#   uart.sh BUILD_DIR        (the kernel is kept in BUILD_DIR/uart; status 77: QEMU cannot run here)
set -eu
here=$(cd "$(dirname "$0")" && pwd) build=$(cd "$1" && pwd) failed=0
work=$(mktemp -d) && trap 'kill $(jobs -p) 2>/dev/null || :; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; failed=1; }
for tool in qemu-system-x86_64 busybox socat; do command -v "$tool" >/dev/null || { echo "QEMU cannot run here: no $tool"; exit 77; }; done
cache=$build/uart && mkdir -p "$cache"
usb=(usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio cdc-acm configfs udc-core libcomposite u_serial usb_f_acm dummy_hcd g_serial)
if [ ! -d "$cache/lib" ]; then  # Debian's kernel, the one linux-image-amd64 names, and its USB modules
    image=$(apt-cache depends linux-image-amd64 | sed -n 's/.*Depends: \(linux-image-[0-9].*\)/\1/p' | head -n 1)
    (cd "$cache" && apt-get download "$image" >/dev/null 2>&1) || { echo "QEMU cannot run here: no kernel"; exit 77; }
    dpkg-deb --fsys-tarfile "$cache/$image"_*.deb | tar -x -C "$cache" --wildcards './boot/vmlinuz-*' -T <(printf './lib/*/%s.ko*\n' "${usb[@]}")
fi

root=$work/root && mkdir -p "$root/bin" "$root/lib/modules" && cp "$(command -v busybox)" "$root/bin" && ln -s busybox "$root/bin/sh"
install -m 755 "$here/guest.sh" "$root/init"
n=10 && for module in "${usb[@]}"; do  # numbered in load order, plain (.ko.xz or .ko)
    xz -dcf "$(find "$cache/lib" -name "$module.ko*")" >"$root/lib/modules/$n-$module.ko" && n=$((n + 1))
done
cc -static -o "$root/bin/dtr" "$here/dtr.c"
for program in "$build/src/vendhook" "$build/examples/vendconnect" "$build/tools/vendsim/vendsim"; do
    cp "$program" "$root/bin/"
    for lib in $(ldd "$program" | grep -o '/[^ ]*'); do mkdir -p "$root${lib%/*}" && cp -L "$lib" "$root$lib"; done
done
(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null | gzip) >"$work/initrd.gz"
for line in high low usb; do
    "$build/tools/vendsim/vendsim" --link "$work/$line" --transcript "$work/$line.log" --max-time 300 >/dev/null &
done
for line in high usb; do socat UNIX-LISTEN:"$work/$line.sock" FILE:"$work/$line",raw,echo=0 & done
for _ in $(seq 50); do [ -S "$work/high.sock" ] && [ -S "$work/usb.sock" ] && [ -L "$work/low" ] && break; sleep 0.1; done
timeout 300 qemu-system-x86_64 -accel tcg -m 256 -display none -monitor none -no-reboot -kernel "$(echo "$cache"/boot/vmlinuz-*)" \
    -initrd "$work/initrd.gz" -append "console=ttyS0 quiet panic=-1" -serial stdio -serial chardev:high \
    -chardev socket,id=high,path="$work/high.sock" -serial chardev:low -chardev serial,id=low,path="$(readlink -f "$work/low")" \
    -device qemu-xhci -device usb-serial,chardev=usb -chardev socket,id=usb,path="$work/usb.sock" \
    </dev/null | tr -d '\r' >"$work/console" || { cat "$work/console"; echo "QEMU cannot run here"; exit 77; }
grep -q '^=== end' "$work/console" || { cat "$work/console"; echo "FAIL: the guest did not finish" >&2; exit 1; }

# NAME PORT WALL FLOW-BEFORE DTR-SPEED-PARITY [vendhook's: SPEED PARITY FLOW-AFTER LAST-LINE]; status 0
check() {
    local report banner=("Orvanta-RC REMOTE CONTROL, v2.35 SPARC  (20 DEC 1999)" "Copyright (c) 1996-1999 Orvanta.  All rights reserved."
        "/bin/vendhook, 2.9") session=()
    if [ "$1" = connect ]; then  # no banner; it dials and tests the link and the receiver
        banner=() session=("Initializing modem..." "Dialing..." "" "ATDT5551234" "" "" "CONNECT 9600" "Testing communications link...wait."
            "Testing receiver configuration")
    fi
    report=$(sed -n "/^=== $1 $2 /,/^===/p" "$work/console" | sed '$d')
    read -r _ _ _ status wall <<<"$(head -n 1 <<<"$report")"
    awk "BEGIN { exit !(\"$status\" == \"0\" && $wall > $3 - 0.5 && $wall < $3 + 0.5) }" || fail "$1 on $2: status $status, $wall s"
    diff <(printf 'err: %s\n' "${banner[@]}" "Could not find \"serial_port\", creating..." "Storing new device file name (/dev/$2)." \
            "RTSXOFF is $4" "CTSXON is $4" "RTSXOFF is now ${8:-ENABLED}." "Port initialized (${6:-9600} baud, 8 data bits, ${7:-Odd}, 1 stop bit)" \
            "Using defaults for all modem strings." "${session[@]}" "" "Disconnecting modem..." ${9:+"$9"} "Done."
        [ "$1" != connect ] || echo 'out: Receiver type 4: "RCV-3000" "SN004711", versions 2.35 1.20 0.45, counts 12 12'
        echo "dtr: $5") <(tail -n +2 <<<"$report") >&2 || fail "$1 on $2: the report (-: expected)"
}
for port in ttyS1 ttyUSB0 ttyACM0; do
    check hangup $port 4.5 Disabled "high 9600 parenb parodd"
    check flow-control-off $port 4.5 Enabled "high 9600 parenb parodd" "" "" DISABLED
    check 19200-even $port 4.5 Disabled "high 19200 parenb -parodd" 19200 Even
    check dropdtr $port 4.5 Enabled "low 9600 parenb parodd"
    check connect $port 7.5 Enabled "high 9600 parenb parodd"
done
held="The modem did not take the hang-up string (flow control is holding it: is the modem on, and the cable wired for RTS/CTS?)."
check cts-low ttyS2 10.6 Disabled "high 9600 parenb parodd" "" "" "" "$held"
check cts-low-dropdtr ttyS2 10.6 Enabled "low 9600 parenb parodd" "" "" "" "$held"
awk 'BEGIN { printf "%-22s%9s%9s%9s\n", "wall in the guest (s)", "8250", "ftdi_sio", "cdc-acm" }  # ttyS1 ttyUSB0 ttyACM0
    /^=== / && NF == 5 { if (!($2 in walls)) names[++n] = $2; walls[$2] = walls[$2] sprintf("%9s", $5) }
    END { for (i = 1; i <= n; ++i) printf "%-22s%s\n", names[i], walls[names[i]] }' "$work/console"

# What each modem got: through ttyS1, ttyUSB0 and ttyACM0 four hang-ups, then the session byte
# for byte as on a pty (docs/recorded; its link test echoes 0x00-0x2c); nothing through ttyS2.
# ttyACM0's ends when its port goes away.
sed -n 's/^acm: //p' "$work/console" >"$work/acm.log"
received() { sed -n 's/^ *[0-9.]* *host-> *\(.*\)  |.*/\1/p' "$1" | tr -d '\n '; }
hangup=$(printf '+++ATH\r' | od -An -tx1 | tr -d ' \n')
expected=$hangup$hangup$hangup$hangup$(received "$here/../../docs/recorded/connect.log")
for line in high usb acm; do [ "$(received "$work/$line.log")" = "$expected" ] || fail "the $line modem got $(received "$work/$line.log")"; done
[ -z "$(received "$work/low.log")" ] || fail "ttyS2's vendsim got $(received "$work/low.log")"
tail -n 1 "$work/acm.log" | grep -q 'event   the port went away$' || fail "ttyACM0's modem did not end with its port"
exit "$failed"
