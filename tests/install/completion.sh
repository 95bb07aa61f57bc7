#!/bin/bash
# completion.sh PREFIX: each completion installed there called as bash calls it on TAB, with
# bash-completion's helpers and the programs installed there.
set -eu
# shellcheck source=/dev/null
source /usr/share/bash-completion/bash_completion
PATH=$1/bin:$PATH
for command in vendhook vendsim; do
    # shellcheck source=/dev/null
    source "$1/share/bash-completion/completions/$command"
    complete -p "$command" >/dev/null
done
cd "$(mktemp -d)"
trap 'rm -rf "$PWD"' EXIT
mkdir cfg
touch modem.dat
check() {  # COMMAND WORD BEFORE EXPECTED
    "_$1" "$1" "$2" "$3" || :  # compopt fails outside a completion
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
check vendsim -- '' "$(vendsim --help | grep -oE -- '--[a-z0-9-]+' | sort -u | xargs)"
