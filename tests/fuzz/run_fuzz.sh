#!/usr/bin/env bash
# Drives the fuzz target built in FUZZ_BUILD (default build-fuzz).
#
#   run_fuzz.sh replay           runs every seed and regression input once
#   run_fuzz.sh fuzz SECONDS [SEED [LIBFUZZER_FLAG...]]
#                                fuzzes for SECONDS from the seeds, the regression
#                                inputs and what earlier runs found; with SEED (may
#                                be empty) the run's random choices are fixed
#
# A crash, a leak, a hang beyond the time limit or a run above the memory limit
# stops the fuzzer and leaves the input that caused it in FUZZ_BUILD/findings/.
# Turn each one into a regression: copy it into tests/fuzz/regressions/ and fix
# the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(readlink -f "${FUZZ_BUILD:-$root/build-fuzz}")
target=$build/corvane_fuzz
seeds=$root/tests/fuzz/corpus
regressions=$root/tests/fuzz/regressions
found=$build/corpus
findings=$build/findings
mkdir -p "$found" "$findings"

# One input may take at most 20 s and 2 GB; a single allocation above 2 GB is a finding too.
limits=(-timeout=20 -rss_limit_mb=2048 -max_len=8192 -artifact_prefix="$findings/"
        -dict="$root/tests/fuzz/corvane.dict")

export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

case "${1:-}" in
    replay)
        inputs=()
        while IFS= read -r -d '' file; do inputs+=("$file"); done \
            < <(find "$seeds" "$regressions" -type f ! -name 'README*' -print0 | sort -z)
        if ! "$target" "${limits[@]}" "${inputs[@]}" > "$build/replay.log" 2>&1; then
            tail -n 60 "$build/replay.log"
            echo "fuzz replay: FAILED (whole output in $build/replay.log)"
            exit 1
        fi
        echo "fuzz replay: ${#inputs[@]} seed and regression inputs ran without a finding"
        ;;
    fuzz)
        seconds=${2:?how many seconds}
        seed_flag=()
        [ -n "${3:-}" ] && seed_flag=(-seed="$3")
        shift $(( $# < 3 ? $# : 3 ))
        # Any further arguments go to libFuzzer as they are (-only_ascii=1, ...).
        "$target" "${limits[@]}" -max_total_time="$seconds" -print_final_stats=1 "${seed_flag[@]}" "$@" \
            "$found" "$seeds" "$regressions"
        ;;
    *)
        echo "usage: $0 replay | fuzz SECONDS [SEED]" >&2
        exit 2
        ;;
esac
