#!/bin/sh
# The guest's init: loads the USB drivers, starts ttyACM0's modem on ttyGS0, and runs /scenarios
# on the ports at once, each port's rows in turn in a folder of its own.
/bin/busybox --install -s /bin
mkdir -p /proc /dev /tmp
mount -t proc proc /proc
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
cd /tmp || exit 1
for module in /lib/modules/*.ko; do  # named in load order; g_serial's function is ACM
    insmod "$module"
done
until [ -e /dev/ttyUSB0 ] && [ -e /dev/ttyACM0 ]; do
    sleep 0.1
done
vendsim --port /dev/ttyGS0 --transcript acm.log --max-time 120 >/dev/null &

# run PORT MODEM: reports each row's status, wall time, output, and the line afterwards.
run() (
    mkdir "$1"
    cd "$1" || exit 1
    grep -v '^#' /scenarios | while read -r name modem _ _ _ _ _ _ program args; do
        [ "$modem" = "$2" ] || continue
        rm -f serial_port
        read -r start _ </proc/uptime
        # Held open, so that DTR can be read after the program closed it (an open raises DTR);
        # the last close, with the driver's closing wait, is part of the time.
        exec 4<>"/dev/$1"
        # shellcheck disable=SC2086 # the arguments, split at blanks
        "/bin/$program" "-D/dev/$1" $args >out 2>err
        status=$?
        dtr=$(dtr <&4)
        exec 4>&-
        read -r end _ </proc/uptime
        echo "=== $name $1 $status $(awk "BEGIN { print $end - $start }")"
        awk '{ print FILENAME ": " $0 }' err out
        line=$(stty -F "/dev/$1" -a 2>/dev/null | grep -oE -- '^speed [0-9]+|-?par(enb|odd)' |
            xargs)
        echo "dtr: $dtr ${line#speed }"
    done
)
for port in ttyS1 ttyUSB0 ttyACM0; do
    run "$port" on >"$port.report" &
    runs="${runs:-} $!"
    sleep 1  # programs that start together slow each other down
done
run ttyS2 off >ttyS2.report
for run in $runs; do
    wait "$run"
done
# A line that another process holds with a lock file: vendhook must leave it, and its folder, alone.
mkdir -p /run/lock locked
sleep 60 &
holder=$!
printf '%10d\n' "$holder" >/run/lock/LCK..ttyS1
(cd locked && vendhook -D/dev/ttyS1 >../locked.out 2>../locked.err)
status=$?
{
    echo "=== locked ttyS1 $status"
    echo "holder: $holder"
    sed 's/^/err: /' locked.err
    sed 's/^/out: /' locked.out
    echo "files:" locked/*
} >locked.report
kill "$holder"
rm /run/lock/LCK..ttyS1
rmmod g_serial  # the modem's port goes away under it, ending it
sed 's/^/acm: /' acm.log
cat ttyS1.report ttyS2.report ttyUSB0.report ttyACM0.report locked.report
echo "=== end"
poweroff -f
