#!/usr/bin/env bash
# Fuzzes the libFuzzer targets for longer than the test run does, one after the other, and
# merges the inputs that reach new code into their seed corpus (tests/fuzz/corpus/<target>).
#
#   scripts/fuzz.sh [target...]        targets: transact device_record sim_line config_file
#                                      journal_check
#                                      (default: all)
#   FUZZ_SECONDS=1800 scripts/fuzz.sh  fuzzing time of each target (default 300 s)
#
# A crash or a broken check stops the run; the input that caused it is kept in
# build/fuzz/long/<target>/artifacts/ and can be replayed with
#   build/fuzz/tests/fuzz/<target>_fuzz <input file>
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-300}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(transact device_record sim_line config_file journal_check)
for t in "${targets[@]}"; do
    [ -d "tests/fuzz/corpus/$t" ] || { echo "unknown fuzz target: $t" >&2; exit 2; }
done

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
for t in "${targets[@]}"; do
    fuzzer=build/fuzz/tests/fuzz/${t}_fuzz
    corpus=tests/fuzz/corpus/$t
    work=build/fuzz/long/$t
    mkdir -p "$work/found" "$work/artifacts"
    echo "=== $t: $seconds s"
    # New inputs go to the first directory only; the seeds are read, never changed.
    if ! "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/found" "$corpus"; then
        echo "$t: failure, input kept in $work/artifacts/" >&2
        exit 1
    fi
    before=$(find "$corpus" -type f | wc -l)
    "$fuzzer" -merge=1 -rss_limit_mb=2048 -timeout=10 "$corpus" "$work/found" 2>/dev/null
    echo "$t: corpus $before -> $(find "$corpus" -type f | wc -l) inputs"
done
