#!/usr/bin/env bash
# The ThreadSanitizer pass of `make tsan` (and `make check`): the unit tests,
# then every end-to-end case that bootstraps, run on 2, 3 and 7 threads, with
# the program built with -fsanitize=thread in TSAN_BUILD, and the whole runs
# whose data files are read side by side. A report ends the program with
# status 66, which no case expects.
#
#   run_tsan.sh TSAN_BUILD [JOBS]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(readlink -f "$1")
jobs=${2:-2}
export TSAN_OPTIONS=halt_on_error=1:exitcode=66:second_deadlock_stack=1

echo "== ThreadSanitizer: unit tests"
"$build/corvane_unit_tests" --gtest_brief=1 > "$build/tsan-unit.log" 2>&1
unit_status=$?
tail -n 3 "$build/tsan-unit.log"
[ "$unit_status" -eq 0 ] || grep -E -A 30 'WARNING: ThreadSanitizer|FAILED' "$build/tsan-unit.log" | head -n 60

echo "== ThreadSanitizer: end-to-end cases with a bootstrap, on 2, 3 and 7 threads"
cases=()
for case_dir in "$root"/tests/e2e/cases/*; do
    if [[ "$case_dir" == *bootstrap* ]] || [ -e "$case_dir/expected/bootstrap.txt" ] ||
        grep -q -s -E -- '^(-b|--bootstrap)$' "$case_dir/arguments"; then
        cases+=("$case_dir")
    fi
done
log=$build/tsan-e2e
rm -rf "$log"
mkdir -p "$log"
printf '%s\n' "${cases[@]}" | xargs -P "$jobs" -I{} bash -c '
    name=$(basename "$1")
    CORVANE_THREAD_COUNTS="2 3 7" bash "$2/tests/e2e/run_case.sh" "$3/corvane" "$1" > "$4/$name.out" 2>&1 \
        && touch "$4/$name.passed"' _ {} "$root" "$build" "$log"
passed=$(find "$log" -name '*.passed' | wc -l)
for case_dir in "${cases[@]}"; do
    name=$(basename "$case_dir")
    [ -e "$log/$name.passed" ] || { echo "FAILED under ThreadSanitizer: $name"; head -n 40 "$log/$name.out"; }
done

# Data files large enough to be read in parts side by side, clean and with a
# problem in the last part, on 3 threads against the plain arithmetic.
echo "== ThreadSanitizer: whole runs on generated data read side by side"
bash "$root/tests/whole_runs/run_whole_runs.sh" "$build/corvane" "$build/generate_bench_data" plain_agrees \
    > "$build/tsan-whole-runs.log" 2>&1
whole_status=$?
tail -n 5 "$build/tsan-whole-runs.log"

echo "make tsan: unit tests $([ "$unit_status" -eq 0 ] && echo passed || echo FAILED);" \
     "$passed of ${#cases[@]} end-to-end cases with a bootstrap passed on 2, 3 and 7 threads;" \
     "whole runs $([ "$whole_status" -eq 0 ] && echo passed || echo FAILED)"
[ "$unit_status" -eq 0 ] && [ "$passed" -eq "${#cases[@]}" ] && [ "$whole_status" -eq 0 ]
