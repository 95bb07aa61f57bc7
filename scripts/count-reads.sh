#!/bin/sh
# Counts the read calls get_message makes for a packet already waiting: reads
# COUNT packets (default 1000) of 20 and of 255 bytes from a pipe and from a
# pty under strace, and divides the reads on the line by the packets read.
# The ceiling is 3: the start byte, the rest of the header, the body.
#
#   scripts/count-reads.sh              # builds in build/ if needed
#   BUILD_DIR=/tmp/b COUNT=5000 scripts/count-reads.sh
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
count=${COUNT:-1000}
ceiling=3

if ! command -v strace >/dev/null; then
    echo "count-reads: strace is needed (apt-get install strace)" >&2
    exit 2
fi
[ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" >/dev/null
cmake --build "$build" -j2 --target read_count >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

worst=0
echo "line  packet_bytes  packets  reads_on_line  reads_per_packet"
for kind in pipe pty; do
    for size in 20 255; do
        strace -qq -e trace=read,write -o "$work/trace" \
            "$build/bench/read_count" "$kind" "$size" "$count" >"$work/out"
        fd=$(sed -n 's/^reader fd //p' "$work/out")
        # Only the reads after read_count names its line: the loader reads
        # libraries on the same low descriptor before the line is opened.
        reads=$(awk -v fd="$fd" '/^write\(1, "reader fd/ { on = 1 }
                                 on && index($0, "read(" fd ",") == 1 { n++ }
                                 END { print n + 0 }' "$work/trace")
        per=$(awk -v r="$reads" -v n="$count" 'BEGIN { printf "%.3f", r / n }')
        printf "%-4s  %12d  %7d  %13d  %16s\n" "$kind" "$size" "$count" "$reads" "$per"
        worst=$(awk -v a="$worst" -v b="$per" 'BEGIN { print (b > a) ? b : a }')
    done
done
if awk -v w="$worst" -v c="$ceiling" 'BEGIN { exit !(w <= c) }'; then
    echo "at most $worst reads a packet: within the ceiling of $ceiling"
else
    echo "up to $worst reads a packet: over the ceiling of $ceiling" >&2
    exit 1
fi
