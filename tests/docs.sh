#!/bin/bash
# docs.sh help|cited SOURCE BUILD LISTING: what the documentation says of the programs is so.
#   help:  the options vendhook (its letters tried one by one) and vendsim take, and only those, are
#          named by their --help and their manual pages;
#   cited: every test, preset and label README.md and docs/ name exists (LISTING: a folder whose
#          ctest lists the build's tests).
set -eu
mode=$1 source=$2 build=$3 listing=$4
failed=0
fail() {
    echo "FAIL: $*" >&2
    failed=1
}

# same WHAT LIST LIST: the lists (one option a line) hold the same options.
same() {
    diff <(sort -u <<<"$2" | sed '/^$/d') <(sort -u <<<"$3" | sed '/^$/d') >&2 ||
        fail "$1 (-: the first)"
}
# man_options PAGE: the options its OPTIONS section names.
man_options() {
    MANWIDTH=200 man -l "$source/man/$1" 2>/dev/null | sed -n '/^OPTIONS/,/^[A-Z]/p' |
        grep -oE '^ {7}(-h, )?(--[a-z0-9-]+|-\+[a-z]+|-[A-Z])' | sed 's/.* //'
}
help() {
    local vendhook=$build/src/vendhook vendsim=$build/tools/vendsim/vendsim helped letters=
    helped=$("$vendhook" --help 2>/dev/null | sed -nE 's/^  (--[a-z]+|-\+[a-z]+|-[A-Z]).*/\1/p')
    for letter in {A..Z}; do  # taken when it does not end the run with the usage text
        "$vendhook" "-$letter" --help >/dev/null 2>&1 && letters+="-$letter"$'\n'
    done
    same "vendhook: the letters it takes, then those --help names" "$letters" \
        "$(grep -E '^-[A-Z]$' <<<"$helped")"
    same "vendhook: --help, then vendhook(1)" "$helped" "$(man_options vendhook.1)"
    helped=$("$vendsim" --help | grep -oE '^  (-h, )?--[a-z0-9-]+' | sed 's/.* //')
    same "vendsim: --help, then vendsim(1)" "$helped" "$(man_options vendsim.1)"
}

cited() {
    local docs=("$source/README.md" "$source"/docs/*.md) tests presets name kind
    tests=$(ctest --test-dir "$listing" -N | sed -n 's/^ *Test *#[0-9]*: //p')
    # shellcheck disable=SC2016 # the backquotes of Markdown
    local test='`([A-Z][a-z]+[.]Row/[A-Za-z0-9]+|(unit|hardening|fuzz[.]replay)[.][A-Za-z0-9_.]+)`'
    while read -r name; do
        grep -qxF "$name" <<<"$tests" || fail "the docs cite $name, which is no test"
    done < <(grep -ohE "$test" "${docs[@]}" | tr -d '`' | sort -u)
    presets=$(cd "$source" && cmake --list-presets=all | awk '/^Available/ { kind = $2 }
        /^  "/ { gsub(/"/, "", $1); print kind, $1 }')
    while read -r command; do
        case $command in
        *--workflow*) kind=workflow ;;
        *--build*) kind=build ;;
        ctest*) kind="test" ;;
        *) kind=configure ;;
        esac
        name=${command##*--preset?}
        grep -qxF "$kind $name" <<<"$presets" || fail "the docs cite the $kind preset $name"
    done < <(grep -ohE '(cmake --workflow |cmake --build |ctest |cmake )--preset[= ][a-z0-9-]+' \
        "${docs[@]}" | sort -u)
    while read -r name; do
        ctest --test-dir "$listing" -N -L "^$name$" | grep -q 'Total Tests: [1-9]' ||
            fail "the docs cite the label $name, which no test carries"
    done < <(grep -ohE '(ctest|--preset[= ][a-z0-9-]+) -L [a-z0-9-]+' "${docs[@]}" | sed 's/.* //')
}

case $mode in
help) help ;;
cited) cited ;;
esac
exit "$failed"
