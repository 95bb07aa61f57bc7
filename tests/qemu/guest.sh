#!/bin/sh
# The guest's init: /scenarios on the ports at once, each port's rows in a folder of its own.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t devtmpfs dev /dev
printf '%s\n' /lib/modules/*.ko | xargs -n 1 insmod  # named in load order; g_serial's is ACM
until [ -e /dev/ttyUSB0 ] && [ -e /dev/ttyACM0 ]; do
    sleep 0.1
done
(vendsim --port /dev/ttyGS0 --transcript acm.log --max-time 120 >/dev/null &)  # not waited for

# run PORT MODEM: each row's status, wall time (ok: within 0.5 s of the row's), output, line.
run() (
    mkdir "$1"
    cd "$1" || exit 1
    grep -v '^#' /scenarios | while read -r name modem wall _ _ _ _ _ program args; do
        [ "$modem" = "$2" ] || continue
        rm -f serial_port
        read -r start _ </proc/uptime
        # Held open: DTR is read after the program's close (an open raises it), which is timed.
        exec 4<>"/dev/$1"
        # shellcheck disable=SC2086 # the arguments, split at blanks
        "/bin/$program" "-D/dev/$1" $args >out 2>err
        status=$?
        dtr=$(dtr <&4)
        exec 4>&-
        read -r end _ </proc/uptime
        echo "=== $name $1 $status $(awk "BEGIN { t = $end - $start
            print (t > $wall - 0.5 && t < $wall + 0.5 ? \"ok\" : t) }")"
        awk '{ print FILENAME ": " $0 }' err out
        stty -F "/dev/$1" -a | grep -oE -- '^speed [0-9]+|-?par(enb|odd)' | xargs echo "dtr $dtr"
    done
)
for port in ttyS1 ttyUSB0 ttyACM0; do
    run "$port" on >"$port.report" &
    sleep 1  # programs that start together slow each other down
done
run ttyS2 off >ttyS2.report
wait
rmmod g_serial  # the modem's port goes away under it, ending it
sed 's/^/acm: /' acm.log
cat ./*.report
# A line another process (init) holds with a lock file: vendhook leaves it, and its folder, alone.
printf '%10d\n' 1 >/run/lock/LCK..ttyS1
(cd locked && vendhook -D/dev/ttyS1 >../out 2>../err)
echo "=== locked ttyS1 $?"
awk '{ print FILENAME ": " $0 }' err out
echo "files:" locked/*
echo "=== end"
poweroff -f
