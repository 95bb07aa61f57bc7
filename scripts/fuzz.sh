#!/bin/sh
# Builds the fuzz targets (the "fuzz" preset: clang, libFuzzer) and runs each for SECONDS
# (default 30) from the committed corpus, which is read, never written: what a run finds goes
# to build-fuzz/corpus/, a crash's input to build-fuzz/crashes/.
#   scripts/fuzz.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."
mkdir -p build-fuzz/crashes build-fuzz/logs
if ! cmake --workflow --preset fuzz >build-fuzz/logs/build.log 2>&1; then
    tail -n 30 build-fuzz/logs/build.log
    exit 1
fi
failed=0
# Longer inputs than a packet stream or a record needs only cost time; a ring plan of 1024 bytes
# already fills and wraps the ring many times.
for target in config_loader:4096 receive_ring:1024 packet_reception:512; do
    name=${target%:*}
    log=build-fuzz/logs/$name.log
    mkdir -p "build-fuzz/corpus/$name"
    if "build-fuzz/fuzz/fuzz_$name" -max_total_time="${1:-30}" -max_len="${target#*:}" \
        -timeout=10 -print_final_stats=1 -artifact_prefix="build-fuzz/crashes/$name-" \
        "build-fuzz/corpus/$name" "fuzz/corpus/$name" >"$log" 2>&1; then
        printf '  %-17s %s\n' "$name" "$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tr '\t' ' ')"
    else
        printf '  %-17s FAILED\n' "$name"
        grep -E 'check failed|ERROR|SUMMARY|Test unit written' "$log" | sed 's/^/    /'
        echo "    reproduce: build-fuzz/fuzz/fuzz_$name <the input above>; keep the input"
        echo "    as fuzz/corpus/$name/regress-<what it shows> once the fault is mended"
        failed=1
    fi
done
exit "$failed"
