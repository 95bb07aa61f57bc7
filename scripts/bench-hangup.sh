#!/bin/bash
# Times whole hang-ups of vendhook against vendsim: RUNS runs (default 5) with
# a modem that has a call up and answers at once, and RUNS with a silent
# modem.  Prints each run's wall time, CPU and peak memory, then a summary
# beside the floor that vendhook's pauses and timeouts set.
#
#   scripts/bench-hangup.sh              # builds in build/ if needed
#   BUILD_DIR=/tmp/b RUNS=9 scripts/bench-hangup.sh
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
runs=${RUNS:-5}

# The floor: half a second draining the line, then the four one-second
# pauses of "~~+++~~ATH".  A silent modem adds the reply wait: after the
# echo of ATH, a reply line ends only once more than 5 s without a byte have
# passed on the whole-second clock, checked after each one-second read, so
# it takes 6 reads (6 s), or 5 when the wait starts in the last millisecond
# or so of a second.
floor_answering=4.5
floor_silent=10.5
wall_margin=0.1   # target: wall within this of the floor (seconds)
cpu_limit_ms=20   # target: CPU of a run under this

[ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" >/dev/null
cmake --build "$build" -j2 --target vendhook vendsim run_timed >/dev/null
vendhook=$build/src/vendhook
run_timed=$build/bench/run_timed
VENDSIM=$build/tools/vendsim/vendsim
. "$top/scripts/start-vendsim.sh"

results=$(mktemp)
trap 'rm -f "$results"' EXIT

# The fraction of the second, on the wall clock, at which vendsim took the
# command ATH (its carriage return): where the silent modem's reply wait starts.
ath_second_fraction() {
    awk '/^# start/ { start = $3 }
         / event +command ATH/ { t = start + $1; printf "%.3f", t - int(t); exit }' "$1"
}

# One hang-up; appends "scenario run wall cpu_s rss fine_wall fine_cpu_ms frac".
run_once() {
    local scenario=$1 run=$2
    shift 2
    local work
    work=$(mktemp -d)
    start_vendsim "$@" --link "$work/modem" --transcript "$work/modem.log" --max-time 60

    # /usr/bin/time gives wall time, CPU and peak RSS to 10 ms; run_timed,
    # inside it, gives vendhook's own wall time and CPU to the microsecond
    # (the outer figures include run_timed's start, about a millisecond).
    local status=0
    (cd "$work" && /usr/bin/time -f '%e %U %S %M' -o "$work/time" \
        "$run_timed" "$work/fine" "$vendhook" "-D$work/modem" >/dev/null 2>"$work/out") ||
        status=$?
    wait "$vendsim_pid" || true
    if [ "$status" -ne 0 ] || ! grep -q '^Done\.$' "$work/out"; then
        echo "run $run ($scenario) failed: status $status" >&2
        cat "$work/out" >&2
        exit 1
    fi
    local frac=-
    [ "$scenario" = silent ] && frac=$(ath_second_fraction "$work/modem.log")
    read -r wall user sys rss <"$work/time"
    read -r fwall fcpu _ <"$work/fine"
    awk -v s="$scenario" -v r="$run" -v w="$wall" -v u="$user" -v y="$sys" -v m="$rss" \
        -v fw="$fwall" -v fc="$fcpu" -v f="$frac" \
        'BEGIN { printf "%-9s %3d  %7.2f %7.2f %7d   %9.3f %7.1f   %8s\n",
                 s, r, w, u + y, m, fw, fc, f }' >>"$results"
    rm -rf "$work"
}

echo "vendhook hang-ups, $runs runs each ($vendhook)"
echo "                 /usr/bin/time              run_timed"
echo "scenario  run   wall_s   cpu_s rss_kib      wall_s  cpu_ms   ath_frac"
for scenario in answering silent; do
    for run in $(seq 1 "$runs"); do
        if [ "$scenario" = answering ]; then
            run_once answering "$run" --connected
        else
            run_once silent "$run" --reply silent
        fi
        tail -n 1 "$results"
    done
done

echo
echo "summary (run_timed figures; median of $runs runs)"
for scenario in answering silent; do
    floor=$floor_answering
    [ "$scenario" = silent ] && floor=$floor_silent
    awk -v s="$scenario" '$1 == s { print $6, $7, $5 }' "$results" | sort -n |
        awk -v s="$scenario" -v floor="$floor" -v margin="$wall_margin" -v cpu="$cpu_limit_ms" '
        { wall[NR] = $1; if ($2 > cmax) cmax = $2; if ($3 > rmax) rmax = $3 }
        END {
            med = NR % 2 ? wall[(NR + 1) / 2] : (wall[NR / 2] + wall[NR / 2 + 1]) / 2
            over = med - floor
            printf "%-9s floor %.1f s  wall min %.3f median %.3f max %.3f  (median %+.3f s)  " \
                   "CPU max %.1f ms  RSS max %d KiB (/usr/bin/time)  ->  wall %s, CPU %s\n",
                   s, floor, wall[1], med, wall[NR], over, cmax, rmax,
                   (over >= -margin && over <= margin) ? "met" : "MISSED",
                   cmax < cpu ? "met" : "MISSED"
        }'
done
