#!/usr/bin/env bash
# The memory-safety pass of `make check`:
#   1. the whole suite (unit tests and end-to-end cases), built with
#      AddressSanitizer and UndefinedBehaviorSanitizer in ASAN_BUILD, through CTest;
#      the first report of either stops the test that made it;
#   2. every end-to-end case once more on the plain build in PLAIN_BUILD, under
#      valgrind's memcheck. Valgrind computes long double as double, so there
#      only memcheck's verdict (errors, leaks) and the exit status are compared.
#
#   run_check.sh PLAIN_BUILD ASAN_BUILD [JOBS]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
plain_build=$(readlink -f "$1")
asan_build=$(readlink -f "$2")
jobs=${3:-2}

# A report ends the program with status 86, which no case expects: the program's
# own statuses are 0 and 1, and a leak found at the end of a complete run would
# otherwise end it with 1, its success status.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:exitcode=86:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=86

echo "== AddressSanitizer + UndefinedBehaviorSanitizer: unit tests and end-to-end cases"
ctest --test-dir "$asan_build" --output-on-failure -j "$jobs" | tee "$asan_build/check.log" | grep -Ev '^ *([0-9]+/[0-9]+ Test|Start +[0-9]+:)' 
asan_status=${PIPESTATUS[0]}
asan_summary=$(grep -E 'tests passed|tests failed' "$asan_build/check.log" | tail -n 1)

echo "== valgrind memcheck: end-to-end cases (exit status only)"
valgrind_log=$plain_build/valgrind
rm -rf "$valgrind_log"
mkdir -p "$valgrind_log"
export CORVANE_STATUS_ONLY=1
cases=("$root"/tests/e2e/cases/*/)
printf '%s\n' "${cases[@]}" | xargs -P "$jobs" -I{} bash -c '
    case_dir=${1%/}
    name=$(basename "$case_dir")
    CORVANE_RUN_PREFIX="valgrind --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible --log-file=$2/$name.memcheck" \
        bash "$3/tests/e2e/run_case.sh" "$4/corvane" "$case_dir" > "$2/$name.out" 2>&1 \
        && touch "$2/$name.passed"' _ {} "$valgrind_log" "$root" "$plain_build"
valgrind_run=${#cases[@]}
valgrind_passed=$(find "$valgrind_log" -name '*.passed' | wc -l)
for case_dir in "${cases[@]}"; do
    name=$(basename "$case_dir")
    if [ ! -e "$valgrind_log/$name.passed" ]; then
        echo "FAILED under valgrind: $name"
        cat "$valgrind_log/$name.out" "$valgrind_log/$name.memcheck" 2>/dev/null | head -n 40
    fi
done

echo
echo "make check: AddressSanitizer + UndefinedBehaviorSanitizer: ${asan_summary:-no result}"
echo "make check: valgrind memcheck: $valgrind_passed of $valgrind_run end-to-end cases passed"
[ "$asan_status" -eq 0 ] && [ "$valgrind_passed" -eq "$valgrind_run" ]
