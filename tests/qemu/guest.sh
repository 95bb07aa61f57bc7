#!/bin/sh
# The guest's init: /scenarios on the ports at once, each port's rows in a folder of its own; then
# the USB modems pulled out under the programs.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t devtmpfs dev /dev
mount -t sysfs sys /sys
printf '%s\n' /lib/modules/*.ko | xargs -n 1 insmod  # named in load order; g_serial's is ACM
until [ -e /dev/ttyUSB0 ] && [ -e /dev/ttyACM0 ]; do
    sleep 0.1
done
ftdi=$(dirname "$(dirname "$(readlink -f /sys/class/tty/ttyUSB0/device)")")
gadget=$(echo /lib/modules/*g_serial.ko)

# far PORT: the USB modem's far end, ttyS3 wired to the FTDI adapter or the ACM gadget's own ttyGS0.
# serve PORT OPTION...: becomes its modem (a gadget's line has no parity); in a subshell.
far() {
    [ "$1" = ttyUSB0 ] && echo ttyS3 || echo ttyGS0
}
serve() {
    port=$1
    shift
    [ "$port" = ttyUSB0 ] || set -- --device-parity none "$@"
    exec vendsim --port "/dev/$(far "$port")" "$@" >/dev/null
}
modems=
for port in ttyUSB0 ttyACM0; do
    serve "$port" --transcript "$port.log" --max-time 120 &
    modems="$modems $!"
done

# run PORT MODEM: each row's status, wall time (ok: within 0.5 s of the row's), output, line.
run() (
    mkdir "$1"
    cd "$1" || exit 1
    grep -v '^#' /scenarios | while read -r name modem wall _ _ _ _ _ program args; do
        [ "$modem" = "$2" ] || continue
        rm -f serial_port
        start=$(cut -d " " -f 1 /proc/uptime)
        # Held open: DTR is read after the program's close (an open raises it), which is timed.
        exec 4<>"/dev/$1"
        # shellcheck disable=SC2086 # the arguments, split at blanks
        "/bin/$program" "-D/dev/$1" $args >out 2>err
        status=$?
        dtr=$(dtr <&4)
        exec 4>&-
        echo "=== $name $1 $status $(awk "BEGIN { t = $(cut -d " " -f 1 /proc/uptime) - $start
            print (t > $wall - 0.5 && t < $wall + 0.5 ? \"ok\" : t) }")"
        awk '{ print FILENAME ": " $0 }' err out
        stty -F "/dev/$1" -a | grep -oE -- '^speed [0-9]+|-?par(enb|odd)' | xargs echo "dtr $dtr"
    done
)
runs=
for port in ttyS1 ttyUSB0 ttyACM0; do
    run "$port" on >"$port.report" &
    runs="$runs $!"
    sleep 1  # programs that start together slow each other down
done
run ttyS2 off >ttyS2.report
# shellcheck disable=SC2086 # the processes, split at blanks
wait $runs
# shellcheck disable=SC2086 # the modems of those rows
kill $modems && wait
sed 's/^/acm: /' ttyACM0.log
sed 's/^/usb: /' ttyUSB0.log
cat ./*.report

# pull PORT, plug PORT: the USB device taken off its bus, and put back once its program has ended.
pull() {
    if [ "$1" = ttyUSB0 ]; then echo 0 >"$ftdi/authorized"; else rmmod g_serial; fi
}
plug() {
    if [ "$1" = ttyUSB0 ]; then echo 1 >"$ftdi/authorized"; else insmod "$gadget"; fi
    until [ -e "/dev/$1" ] && [ -e "/dev/$(far "$1")" ]; do
        sleep 0.1
    done
}
# unplug PORT: the unplug rows, each with a modem of its own: its status, the seconds from the pull
# to its end, its CPU seconds, its output, how its modem ended, the locks left.
unplug() (
    mkdir "$1.unplug"
    cd "$1.unplug" || exit 1
    printf 'ACK NEVER\n' >never  # an answer that never comes
    grep '^unplug ' /scenarios | while read -r _ name at _ modem program args; do
        printf %s "/dev/$1" >serial_port
        [ "$modem" = - ] && modem=
        if [ "$at" = - ]; then
            pull "$1"
            pulled=$(cut -d " " -f 1 /proc/uptime)
        else
            # shellcheck disable=SC2086 # the options, split at blanks
            serve "$1" --transcript modem.log --max-time 60 $modem &
            sim=$!
        fi
        # shellcheck disable=SC2046,SC2023 # the arguments, split at blanks; busybox's time
        time -f '%U %S' -o cpu "/bin/$program" $(echo "$args" | sed "s/PORT/$1/") >out 2>err &
        program=$!
        if [ "$at" != - ]; then
            sleep "$at"
            pulled=$(cut -d " " -f 1 /proc/uptime)
            pull "$1"
        fi
        wait $program
        status=$?
        ended=$(cut -d " " -f 1 /proc/uptime)
        echo "=== unplug-$name $1 $status $(awk "BEGIN { print $ended - $pulled }")" \
            "$(tail -n 1 cpu | awk '{ print $1 + $2 }')"
        awk '{ print FILENAME ": " $0 }' err out
        if [ "$at" != - ]; then
            [ "$1" = ttyACM0 ] || kill "$sim"  # the gadget's ends with its port
            wait "$sim"
            echo "modem: $? $(tail -n 1 modem.log | sed 's/^ *[0-9.]* *event *//')"
        fi
        # shellcheck disable=SC2046 # the names, split at blanks
        echo "locks:" $(ls /run/lock) $(grep FLOCK /proc/locks) $(held)
        plug "$1"
    done
)
# One port at a time: each run's locks are looked for in the whole system.
unplug ttyUSB0
unplug ttyACM0

# A line another process (init) holds with a lock file: vendhook leaves it, and its folder, alone.
printf '%10d\n' 1 >/run/lock/LCK..ttyS1
(cd locked && vendhook -D/dev/ttyS1 >../out 2>../err)
echo "=== locked ttyS1 $?"
awk '{ print FILENAME ": " $0 }' err out
echo "files:" locked/*
echo "=== end"
poweroff -f
