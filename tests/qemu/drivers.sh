#!/bin/bash
# vendhook and the connect program on Linux's 8250, ftdi_sio and cdc-acm drivers, in a QEMU guest
# under Debian's kernel (kept in BUILD_DIR/qemu); docs/ci.md shows the wiring.
#   drivers.sh BUILD_DIR
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
failed=0
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || :; rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    failed=1
}
cache=$build/qemu
usb=(usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio cdc-acm configfs udc-core
    libcomposite u_serial usb_f_acm dummy_hcd g_serial)
if [ ! -d "$cache/lib" ]; then  # Debian's kernel, the one linux-image-amd64 names, and its modules
    mkdir -p "$cache"
    image=$(apt-cache depends linux-image-amd64 | grep -oE -m1 'linux-image-[0-9].*')
    (cd "$cache" && apt-get download "$image" >/dev/null)
    dpkg-deb --fsys-tarfile "$cache/$image"_*.deb | tar -x -C "$cache" --wildcards \
        './boot/vmlinuz-*' -T <(printf './lib/*/%s.ko*\n' "${usb[@]}")
fi

root=$work/root
mkdir -p "$root/bin" "$root/lib/modules"
cp "$(command -v busybox)" "$root/bin"
ln -s busybox "$root/bin/sh"
install -m 755 "$here/guest.sh" "$root/init"
cp "$here/scenarios" "$root/scenarios"
n=10
for module in "${usb[@]}"; do  # numbered in load order, plain (.ko.xz or .ko)
    xz -dcf "$(find "$cache/lib" -name "$module.ko*")" >"$root/lib/modules/$n-$module.ko"
    n=$((n + 1))
done
cc -static -o "$root/bin/dtr" "$here/dtr.c"
for program in "$build/src/vendhook" "$build/examples/vendconnect" "$build/tools/vendsim/vendsim"
do
    cp "$program" "$root/bin/"
    for lib in $(ldd "$program" | grep -o '/[^ ]*'); do
        mkdir -p "$root${lib%/*}"
        cp -L "$lib" "$root$lib"
    done
done
(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null | gzip) >"$work/initrd.gz"

# shellcheck source=scripts/start-vendsim.sh
. "$here/../../scripts/start-vendsim.sh"
export VENDSIM=$build/tools/vendsim/vendsim
declare -A tty
for line in high low usb; do
    start_vendsim --transcript "$work/$line.log" --max-time 300
    tty[$line]=$vendsim_tty
done
for line in high usb; do  # QEMU waits for them to connect
    socat UNIX-CONNECT:"$work/$line.sock",retry=100,interval=0.1 FILE:"${tty[$line]}",raw,echo=0 &
done
chardev=socket,server=on,wait=on,path=$work
timeout 300 qemu-system-x86_64 -accel tcg -m 256 -display none -monitor none -no-reboot \
    -kernel "$(echo "$cache"/boot/vmlinuz-*)" -initrd "$work/initrd.gz" \
    -append "console=ttyS0 quiet panic=-1" -serial stdio \
    -serial chardev:high -chardev "$chardev/high.sock,id=high" \
    -serial chardev:low -chardev "serial,id=low,path=${tty[low]}" \
    -device qemu-xhci -device usb-serial,chardev=usb -chardev "$chardev/usb.sock,id=usb" \
    </dev/null 2>"$work/qemu.log" | tr -d '\r' >"$work/console"
if ! grep -q '^=== end' "$work/console"; then
    cat "$work/console" "$work/qemu.log"
    echo "FAIL: the guest did not finish" >&2
    exit 1
fi

# The report of a row on a port: its first line, then all from after vendhook's version lines.
report() {
    sed -n "/^=== $1 $2 /,/^===/p" "$work/console" | sed '$d' |
        awk '/^err: Could not find/ { on = 1 } NR == 1 || on'
}
# What the row's program says on the port, after its version lines, and the line afterwards.
expected() {
    {
        printf '%s\n' "Could not find \"serial_port\", creating..." \
            "Storing new device file name (/dev/$port)." "RTSXOFF is $flow" "CTSXON is $flow" \
            "RTSXOFF is now $now." \
            "Port initialized ($speed baud, 8 data bits, $parity, 1 stop bit)" \
            "Using defaults for all modem strings."
        if [ "$program" = vendconnect ]; then
            printf '%s\n' "Initializing modem..." "Dialing..." "" "ATDT5551234" "" "" \
                "CONNECT 9600" "Testing communications link...wait." \
                "Testing receiver configuration"
        fi
        printf '%s\n' "" "Disconnecting modem..."
        if [ "$modem" = off ]; then
            echo "The modem did not take the hang-up string (flow control is holding it: is the" \
                "modem on, and the cable wired for RTS/CTS?)."
        fi
        echo "Done."
    } | sed 's/^/err: /'
    if [ "$program" = vendconnect ]; then
        echo 'out: Receiver type 4: "RCV-3000" "SN004711", versions 2.35 1.20 0.45, counts 12 12'
    fi
    parodd=parodd
    [ "$parity" = Odd ] || parodd=-parodd
    echo "dtr: $dtr $speed parenb $parodd"
}
while read -r name modem wall flow now dtr speed parity program _; do
    ports=ttyS2
    [ "$modem" = off ] || ports="ttyS1 ttyUSB0 ttyACM0"
    for port in $ports; do
        read -r _ _ _ status took < <(report "$name" "$port")
        if ! awk "BEGIN { exit !($status == 0 && $took > $wall - 0.5 && $took < $wall + 0.5) }"
        then
            fail "$name on $port: status $status, $took s"
        fi
        diff <(expected) <(report "$name" "$port" | tail -n +2) >&2 ||
            fail "$name on $port: the report (-: expected)"
    done
done < <(grep -v '^#' "$here/scenarios")
# The lock row: refused, the holder named, nothing written in its folder.
locked=$(sed -n '/^=== locked ttyS1 /,/^===/p' "$work/console" | sed '$d')
holder=$(sed -n 's/^holder: //p' <<<"$locked")
refusal="err: Not hanging up: process $holder (sleep) holds /dev/ttyS1 with a lock file"
diff <(printf '%s\n' "=== locked ttyS1 255" "$refusal (--force hangs up anyway)." \
    "err: Done (-1)." "files: locked/*") <(awk '/^err: Not/ { on = 1 } NR == 1 || on' <<<"$locked") >&2 ||
    fail "the lock row on ttyS1 (-: expected)"
echo "wall time in the guest, in seconds:"
awk '/^=== / && NF == 5 { printf "  %-17s %-8s %s\n", $2, $3, $5 }' "$work/console"

# What each modem got: through ttyS1, ttyUSB0 and ttyACM0 four hang-ups, then the session byte for
# byte as on a pty (docs/recorded); nothing through ttyS2.  ttyACM0's ends with its port.
sed -n 's/^acm: //p' "$work/console" >"$work/acm.log"
received() {
    sed -n 's/^ *[0-9.]* *host-> *\(.*\)  |.*/\1/p' "$1" | tr -d '\n '
}
hangup=$(printf '+++ATH\r' | od -An -tx1 | tr -d ' \n')
expected=$hangup$hangup$hangup$hangup$(received "$here/../../docs/recorded/connect.log")
for line in high usb acm; do
    [ "$(received "$work/$line.log")" = "$expected" ] ||
        fail "the $line modem got $(received "$work/$line.log")"
done
[ -z "$(received "$work/low.log")" ] || fail "ttyS2's vendsim got $(received "$work/low.log")"
tail -n 1 "$work/acm.log" | grep -q 'event   the port went away$' ||
    fail "ttyACM0's modem did not end with its port"
exit "$failed"
