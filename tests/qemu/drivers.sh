#!/bin/bash
# drivers.sh BUILD_DIR: the programs on Linux's serial drivers in QEMU; docs/ci.md shows how.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
# The guest's kernel is fetched once for every clone, into the user's cache where it can be written
# (VENDHOOK_QEMU_CACHE names another folder), else into the build folder.
cache=${VENDHOOK_QEMU_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vendhook-qemu}
mkdir -p "$cache" 2>/dev/null && [ -w "$cache" ] || cache=$build/qemu
work=$(mktemp -d)
root=$work/root
trap 'kill $(jobs -p) 2>/dev/null || :; rm -rf "$work"' EXIT
failed=0
fail() {
    echo "FAIL: $*" >&2
    failed=1
}
usb=(usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio cdc-acm configfs udc-core
    libcomposite u_serial usb_f_acm dummy_hcd g_serial)
mkdir -p "$cache" "$root"/{bin,lib/modules,proc,dev,sys,run/lock,locked}
# The kernel linux-image-amd64 names, and its modules, unpacked aside and moved into place whole.
image=$(apt-cache depends linux-image-amd64 | grep -oE -m1 'linux-image-[0-9].*')
kernel=$cache/$image
if [ ! -d "$kernel" ]; then
    part=$(mktemp -d "$cache/part.XXXXXX")
    (cd "$part" && apt-get download "$image" >/dev/null)
    dpkg-deb --fsys-tarfile "$part/$image"_*.deb | tar -x -C "$part" --wildcards \
        './boot/vmlinuz-*' -T <(printf './lib/*/%s.ko*\n' "${usb[@]}")
    rm "$part/$image"_*.deb
    mv -T "$part" "$kernel" 2>/dev/null || rm -rf "$part"  # another run's came first
fi

ln -s busybox "$root/bin/sh"
install -m 755 "$here/guest.sh" "$here/scenarios" "$root"
for i in "${!usb[@]}"; do  # numbered in load order, plain (.ko.xz or .ko)
    xz -dcf "$(find "$kernel" -name "${usb[i]}.ko*")" >"$root/lib/modules/$((i + 10))-${usb[i]}.ko"
done
for helper in dtr held; do
    cc -static -o "$root/bin/$helper" "$here/$helper.c"
done
programs=("$build/src/vendhook" "$build/examples/vendconnect" "$build/tools/vendsim/vendsim")
cp "$(command -v busybox)" "${programs[@]}" "$root/bin"
ldd "${programs[@]}" | grep -oP '/\S+(?= \(0x)' | sort -u | xargs cp -L --parents -t "$root"
(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null | gzip) >"$work/initrd.gz"

# shellcheck source=scripts/start-vendsim.sh
. "$here/../../scripts/start-vendsim.sh"
export VENDSIM=$build/tools/vendsim/vendsim
for line in high low; do  # QEMU waits for high to connect; low is its serial backend
    start_vendsim --transcript "$work/$line.log" --max-time 300
    [ "$line" = low ] || socat UNIX-CONNECT:"$work/$line.sock",retry=100,interval=0.1 \
        FILE:"$vendsim_tty",raw,echo=0 &
done
# The FTDI adapter's line is wired to the guest's ttyS3, where the guest serves its modem.
socat UNIX-CONNECT:"$work/usb.sock",retry=100,interval=0.1 \
    UNIX-CONNECT:"$work/s3.sock",retry=100,interval=0.1 &
timeout 300 qemu-system-x86_64 -accel tcg -m 256 -display none -monitor none -no-reboot \
    -kernel "$(echo "$kernel"/boot/vmlinuz-*)" -initrd "$work/initrd.gz" \
    -append "console=ttyS0 quiet panic=-1 rdinit=/guest.sh" -serial stdio \
    -serial "unix:$work/high.sock,server=on,wait=on" -serial "$vendsim_tty" \
    -serial "unix:$work/s3.sock,server=on,wait=off" -device qemu-xhci \
    -device usb-serial,chardev=usb -chardev "socket,id=usb,server=on,wait=off,path=$work/usb.sock" \
    </dev/null 2>"$work/qemu.log" | tr -d '\r' >"$work/console"
grep -q '^=== end' "$work/console" ||
    fail "the guest did not finish: $(cat "$work/console" "$work/qemu.log")"

# report ROW PORT: the row's first line, then all past the version lines but the texts no driver
# shapes, which the e2e rows check exactly: a line a driver adds still shows.
report() {
    local known='^err: (Orvanta-RC REMOTE|Copyright|(/bin/)?vendhook, 2.9$|Could not find'
    known+='|Storing new|Using defaults|Initializing|Dialing|ATDT|CONNECT|Testing|[.]{3}and wait'
    known+='|Disconnecting|$)|^out: Receiver type'
    sed -n "/^=== $1 $2 /,/^===/p" "$work/console" | sed '$d' | grep -vE "$known"
}
expected() {
    echo "=== $name $port 0 ok"
    printf 'err: %s\n' "RTSXOFF is $flow" "CTSXON is $flow" "RTSXOFF is now $now." \
        "Port initialized ($speed baud, 8 data bits, $parity, 1 stop bit)"
    [ "$modem" = on ] || echo "err: The modem did not take the hang-up string (flow control is" \
        "holding it: is the modem on, and the cable wired for RTS/CTS?)."
    echo "err: Done."
    echo "dtr $dtr speed $speed parenb ${parodd[$parity]}"
}
declare -A parodd=([Odd]=parodd [Even]=-parodd)
while read -r name modem _ flow now dtr speed parity _; do
    ports="ttyS1 ttyUSB0 ttyACM0"
    [ "$modem" = on ] || ports=ttyS2
    for port in $ports; do
        diff <(expected) <(report "$name" "$port") >&2 ||
            fail "$name on $port: the report (-: expected)"
    done
done < <(grep -v -e '^#' -e '^unplug ' "$here/scenarios")

# The unplug rows: the port's set-up and the one line, no lock left; the status, within a second of
# the pull, under 0.1 s of CPU (a busy wait would take all; TCG makes any run cost 0.01 to 0.05 s).
unplugged() {
    local done="Done ($((status - 256)))."
    [ "$status" = 0 ] && done=Done.
    if [ "$at" = - ]; then
        echo "err: Done (-1)."
        printf 'out: %s\n' "Unable to open device file \"/dev/$port\"" ""
    else
        printf 'err: %s\n' "RTSXOFF is Disabled" "CTSXON is Disabled" "RTSXOFF is now ENABLED." \
            "Port initialized (9600 baud, 8 data bits, Odd, 1 stop bit)" \
            "/dev/$port went away (unplugged, or hung up by the system)." "$done"
    fi
    [ "$at" = - ] || echo "modem: ${ends[$port]}"
    echo "locks:"
}
declare -A ends=([ttyUSB0]="0 stopped by signal" [ttyACM0]="6 the port went away")
while read -r _ name at status _; do
    for port in ttyUSB0 ttyACM0; do
        report "unplug-$name" "$port" >"$work/report"
        read -r _ _ _ got after cpu <"$work/report"
        echo "unplug-$name on $port: status $got, ended $after s after the pull, CPU $cpu s" >&2
        if [ "$got" != "$status" ] || ! awk "BEGIN { exit !($after < 1 && $cpu < 0.1) }"; then
            fail "unplug-$name on $port: not status $status within a second, under 0.1 s of CPU"
        fi
        diff <(unplugged) <(tail -n +2 "$work/report") >&2 ||
            fail "unplug-$name on $port: the report (-: expected)"
    done
done < <(grep '^unplug ' "$here/scenarios")

# The lock row: refused, the holder (the guest's init) named, nothing written in its folder.
refused="err: Not hanging up: process 1 (guest.sh) holds /dev/ttyS1 with a lock file"
printf '%s\n' "=== locked ttyS1 255" "$refused (--force hangs up anyway)." "err: Done (-1)." \
    "files: locked/*" | diff - <(report locked ttyS1) >&2 ||
    fail "the lock row on ttyS1 (-: expected)"

# Each modem got four hang-ups, then the recorded session byte for byte; ttyS2's nothing.
for line in usb acm; do
    sed -n "s/^$line: //p" "$work/console" >"$work/$line.log"
done
received() {
    sed -n 's/^ *[0-9.]* *host-> *\(.*\)  |.*/\1/p' "$1" | tr -d '\n '
}
session=$(printf '+++ATH\r%.0s' 1 2 3 4 | od -An -tx1 | tr -d ' \n')
session+=$(received "$here/../../docs/recorded/connect.log")
for line in high usb acm; do
    [ "$(received "$work/$line.log")" = "$session" ] ||
        fail "the $line modem got $(received "$work/$line.log")"
done
[ -z "$(received "$work/low.log")" ] || fail "ttyS2's vendsim got $(received "$work/low.log")"
exit "$failed"
