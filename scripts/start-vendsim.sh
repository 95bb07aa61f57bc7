# shellcheck shell=sh
# Sourced by the scripts that run vendsim.
#   start_vendsim [OPTION...]: starts vendsim (VENDSIM, else the one on PATH) in the background
#   and returns once it is ready, which its first line, its terminal's path, tells: that path
#   is then in vendsim_tty and its process in vendsim_pid.  Fails when vendsim ended before.
start_vendsim() {
    vendsim_fifo=$(mktemp -u "${TMPDIR:-/tmp}/vendsim-ready.XXXXXX")
    mkfifo "$vendsim_fifo"
    "${VENDSIM:-vendsim}" "$@" >"$vendsim_fifo" &
    # shellcheck disable=SC2034 # the caller's
    vendsim_pid=$!
    # vendsim writes nothing else on its standard output, so the pipe may close after the line.
    read -r vendsim_tty <"$vendsim_fifo" || vendsim_tty=
    rm -f "$vendsim_fifo"
    if [ -z "$vendsim_tty" ]; then
        echo "vendsim did not start" >&2
        return 1
    fi
}
