#!/bin/bash
# The manual pages format without a single warning, and render through man.
#
#   manpages.sh PAGE...
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"

need groff man
[ $# -gt 0 ] || fail "no pages given"
for page in "$@"; do
    [ -s "$page" ] || fail "$page is missing or empty"
    warnings=$(groff -man -ww -z "$page" 2>&1) || fail "groff failed on $page: $warnings"
    [ -z "$warnings" ] || fail "groff warns about $page:"$'\n'"$warnings"
    name=$(basename "$page" .1)
    rendered=$(MANWIDTH=80 man -l "$page" 2>&1) || fail "man -l $page: $rendered"
    for section in NAME SYNOPSIS DESCRIPTION OPTIONS FILES 'EXIT STATUS' EXAMPLES 'SEE ALSO'; do
        grep -qx "$section" <<<"$rendered" || fail "$page has no $section section"
    done
    grep -Eq "^ *$name +- " <<<"$rendered" || fail "$page: NAME does not start with $name"
    echo "ok: $page"
done
