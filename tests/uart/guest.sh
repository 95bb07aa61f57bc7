#!/bin/sh
# The guest's init: loads the USB drivers, starts ttyACM0's modem on ttyGS0, and runs the table on
# the ports at once, each port's rows in turn in a folder of its own.  Each row reports its status,
# its wall time, what it printed, DTR afterwards (TIOCMGET) and the line's speed and parity.  The port
# is held open around the run, so that DTR can be read after the program closed it (an open raises
# DTR); the last close, with the driver's closing wait, is part of the time.
/bin/busybox --install -s /bin
mkdir -p /proc /dev /tmp && mount -t proc proc /proc && mount -t devtmpfs dev /dev && mount -t tmpfs tmp /tmp && cd /tmp || exit 1
for module in /lib/modules/*.ko; do insmod "$module"; done  # named in load order; g_serial's function is ACM
for _ in $(seq 100); do [ -e /dev/ttyUSB0 ] && [ -e /dev/ttyACM0 ] && break; sleep 0.1; done
vendsim --port /dev/ttyGS0 --transcript acm.log --max-time 120 >/dev/null &
run() {
    mkdir "$1" && cd "$1" || exit 1
    while read -r name program args; do
        rm -f serial_port
        read -r start _ </proc/uptime
        exec 4<>"/dev/$1"
        # shellcheck disable=SC2086
        "/bin/$program" "-D/dev/$1" $args >out 2>err
        status=$?
        dtr=$(dtr <&4)
        exec 4>&-
        read -r end _ </proc/uptime
        echo "=== $name $1 $status $(awk "BEGIN { print $end - $start }")"
        awk '{ print FILENAME ": " $0 }' err out
        echo "dtr: $dtr $(stty -F "/dev/$1" -a 2>/dev/null | grep -oE -- '^speed [0-9]+|-?par(enb|odd)' | sed 's/^speed //' | xargs)"
    done
}
for port in ttyS1 ttyUSB0 ttyACM0; do  # a modem that is on; ttyS2's is off
    printf '%s\n' 'hangup vendhook' 'flow-control-off vendhook --rtscts' '19200-even vendhook -B19200 -Pe' \
        'dropdtr vendhook --dropdtr' 'connect vendconnect -MATDT5551234' | run "$port" >"$port.report" &
    runs="${runs:-} $!" && sleep 1  # programs that start together slow each other down
done
printf '%s\n' 'cts-low vendhook' 'cts-low-dropdtr vendhook --dropdtr' | run ttyS2 >ttyS2.report
for run in $runs; do wait "$run"; done
rmmod g_serial  # the modem's port goes away under it, ending it
sed 's/^/acm: /' acm.log
cat ttyS1.report ttyS2.report ttyUSB0.report ttyACM0.report
echo "=== end"
poweroff -f
