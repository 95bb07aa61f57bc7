#!/bin/sh
# Builds vendhook and the simulated modem, hangs up its call in progress, and shows what
# vendhook printed and what the modem received.  DEMO_BUILD names another build folder;
# with DEMO_INSTALLED=1 the installed programs are run instead (the packages' own test).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/start-vendsim.sh"
if [ -z "${DEMO_INSTALLED:-}" ]; then
    build=${DEMO_BUILD:-$top/build}
    cmake -S "$top" -B "$build" >/dev/null
    cmake --build "$build" -j2 --target vendhook vendsim >/dev/null
    build=$(cd "$build" && pwd)
    # Run by name, as a user runs them: vendhook shows its name in its version line.
    PATH=$build/src:$build/tools/vendsim:$PATH
fi

# vendhook runs in a folder of its own, where it keeps serial_port; "modem" there
# is the simulated modem's terminal.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
start_vendsim --connected --link modem --transcript modem.log --max-time 60

echo "\$ vendhook -Dmodem"
status=0
vendhook -Dmodem || status=$?
echo "(exit status $status)"
wait "$vendsim_pid" || true
echo
echo "What the modem received (vendsim transcript):"
cat modem.log
exit "$status"
