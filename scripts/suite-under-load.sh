#!/bin/bash
# Runs the test suites again and again, optionally beside CPU-bound
# processes, and counts per test how often it failed: a check whose verdict
# depends on how busy the machine is shows up here.
#
#   scripts/suite-under-load.sh [-n RUNS] [-k HOGS] [-s plain|asan|both] [SOURCE_DIR]
#
# -n: runs of each suite (default 10); -k: CPU-bound processes running beside
# them (default 0); -s: the README's suite (build/), the sanitizer suite
# (build-asan/, -DVENDLINK_SANITIZE=ON) or both (the default).  SOURCE_DIR
# (default: this checkout) is built first where its build folders are not.
# Ends with status 1 when any run failed, keeping the failed runs' output.
set -u
runs=10 hogs=0 suites="plain asan"
while getopts n:k:s: opt; do
    case $opt in
    n) runs=$OPTARG ;;
    k) hogs=$OPTARG ;;
    s) [ "$OPTARG" = both ] || suites=$OPTARG ;;
    *)
        sed -n '6p' "$0" >&2
        exit 2
        ;;
    esac
done
shift $((OPTIND - 1))
top=$(cd "${1:-$(dirname "$0")/..}" && pwd) || exit 2
logs=$(mktemp -d)

hog_pids=()
# shellcheck disable=SC2317 # called by the trap
cleanup() {
    kill "${hog_pids[@]}" 2>/dev/null
    rm -f "$logs/run" "$logs/names" "$logs/failures"
    rmdir "$logs" 2>/dev/null
}
trap cleanup EXIT
for ((i = 0; i < hogs; i++)); do
    # A load, on purpose: a process that never waits.
    (while :; do :; done) &
    hog_pids+=($!)
done

failed_any=0
for suite in $suites; do
    case $suite in
    plain) build=$top/build flags=() ;;
    asan) build=$top/build-asan flags=(-DVENDLINK_SANITIZE=ON) ;;
    *) echo "unknown suite $suite" >&2; exit 2 ;;
    esac
    if ! cmake -S "$top" -B "$build" "${flags[@]}" >/dev/null ||
        ! cmake --build "$build" -j2 >/dev/null; then
        echo "$suite: the build failed" >&2
        exit 1
    fi
    passed=0
    : >"$logs/failures"
    for ((run = 1; run <= runs; run++)); do
        started=$(date +%s)
        if ctest --test-dir "$build" -j16 --output-on-failure >"$logs/run" 2>&1; then
            passed=$((passed + 1))
            result=passed
        else
            failed_any=1
            # ctest's summary: "	  12 - Hangup.Row/SilentModem (Failed)"
            sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) .*/\1/p' "$logs/run" |
                tee -a "$logs/failures" >"$logs/names"
            result="FAILED: $(tr '\n' ' ' <"$logs/names")(output: $logs/$suite-$run.log)"
            cp "$logs/run" "$logs/$suite-$run.log"
        fi
        printf '%-5s run %2d/%d, %d s beside %d CPU-bound processes: %s\n' \
            "$suite" "$run" "$runs" $(($(date +%s) - started)) "$hogs" "$result"
    done
    printf '%-5s %d of %d runs passed\n' "$suite" "$passed" "$runs"
    sort "$logs/failures" | uniq -c | while read -r count name; do
        printf '      %-60s failed %d of %d\n' "$name" "$count" "$runs"
    done
done
exit "$failed_any"
