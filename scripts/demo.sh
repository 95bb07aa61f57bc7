#!/bin/sh
# Builds vendhook and the simulated modem, hangs up its call in progress, and shows what
# vendhook printed and what the modem received.  DEMO_BUILD names another build folder.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${DEMO_BUILD:-$top/build}

cmake -S "$top" -B "$build" >/dev/null
cmake --build "$build" -j2 --target vendhook vendsim >/dev/null
build=$(cd "$build" && pwd)  # vendhook runs in a folder of its own

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/tools/vendsim/vendsim" --connected --link "$work/modem" --transcript "$work/modem.log" \
    --max-time 60 >/dev/null &
sim=$!
tries=0
until [ -L "$work/modem" ]; do
    tries=$((tries + 1))
    [ "$tries" -le 100 ] || { echo "vendsim did not start" >&2; exit 1; }
    sleep 0.05
done

echo "\$ vendhook -D$work/modem"
status=0
(cd "$work" && "$build/src/vendhook" "-D$work/modem") || status=$?
echo "(exit status $status)"
wait "$sim" || true
echo
echo "What the modem received (vendsim transcript):"
cat "$work/modem.log"
exit "$status"
