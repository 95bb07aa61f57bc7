#!/bin/bash
# completion.sh COMPLETIONS_DIR VENDSIM: each completion called as bash calls it on TAB
# (command, word, word before).
set -eu
options=$("$2" --help | grep -oE -- '--[a-z0-9-]+' | sort -u | paste -sd ' ')
for command in vendhook vendsim; do
    # shellcheck source=/dev/null
    source "$1/$command"
    complete -p "$command" >/dev/null
done
cd "$(mktemp -d)"
trap 'rm -rf "$PWD"' EXIT
mkdir cfg
touch modem.dat
check() {  # COMMAND WORD BEFORE EXPECTED
    "_$1" "$1" "$2" "$3" || :  # compopt fails outside a completion
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ')
    [ "$got" = "$4" ] || echo "FAIL: $1 $3 $2<TAB>: $got" >&2
    [ "$got" = "$4" ]
}
ports=$(find /dev -maxdepth 1 -name 'tty?*' ! -regex '/dev/tty[0-9]*' -printf '-D%p\n')
check vendhook -D '' "$(printf '%s\n' -Dcfg/ -Dmodem.dat "$ports" | sort | paste -sd ' ')"
check vendhook -cm '' -cmodem.dat
check vendhook -B1 '' '-B1200 -B19200'
check vendhook -p '' '-pe -pn -po'
check vendhook --r '' --rtscts
check vendsim '' --enq 'ack nak silent'
check vendsim --reply=l '' --reply=late:
check vendsim -- '' "$options"
