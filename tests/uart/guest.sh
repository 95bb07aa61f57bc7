#!/bin/sh
# The guest's init: each row of the table runs a program on a UART (ttyS1
# reaches vendsim with CTS high, ttyS2 with CTS low) and reports on the
# console its status, its wall time, what it printed, DTR afterwards and the
# line's speed and parity.  The port is held open around the run, so that
# DTR can be read after the program closed it (an open raises DTR); the
# last close, with the driver's closing wait, is part of the time.
/bin/busybox --install -s /bin
mkdir -p /proc /dev /tmp && mount -t proc proc /proc && mount -t devtmpfs dev /dev && mount -t tmpfs tmp /tmp && cd /tmp || exit 1
while read -r name port program args; do
    rm -f serial_port
    start=$(cut -d ' ' -f 1 /proc/uptime)
    exec 4<>"$port"
    # shellcheck disable=SC2086
    "/bin/$program" "-D$port" $args >out 2>err
    status=$?
    dtr=low && grep "^${port#/dev/ttyS}:" /proc/tty/driver/serial | grep -q DTR && dtr=high
    exec 4>&-
    echo "=== $name $status $(awk "BEGIN { print $(cut -d ' ' -f 1 /proc/uptime) - $start }")"
    sed 's/^/err: /' err
    sed 's/^/out: /' out
    line=$(stty -F "$port" -a 2>/dev/null)
    echo "dtr: $dtr $(echo "$line" | sed -n 's/^speed \([0-9]*\).*/\1/p') $(echo "$line" | grep -oE -- '-?par(enb|odd)' | xargs)"
done <<'TABLE'
hangup /dev/ttyS1 vendhook
flow-control-off /dev/ttyS1 vendhook --rtscts
19200-even /dev/ttyS1 vendhook -B19200 -Pe
dropdtr /dev/ttyS1 vendhook --dropdtr
cts-low /dev/ttyS2 vendhook
cts-low-dropdtr /dev/ttyS2 vendhook --dropdtr
connect /dev/ttyS1 vendconnect -MATDT5551234
TABLE
echo "=== end"
poweroff -f
