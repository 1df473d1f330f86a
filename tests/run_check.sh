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

# corvane-prepare's cases (every row of its table, exit status only), and the
# refusal runs of corvane-simulate and corvane-scan through a wrapper that puts
# valgrind before the program (their other runs compare figures that valgrind's
# long double, computed as double, would change).
memcheck="valgrind --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible"
prepare_rows=$(awk -F '\t' '!/^#/ && NF > 1 { print $1 }' "$root/tests/prepare/cases.tsv")
printf '%s\n' $prepare_rows | xargs -P "$jobs" -I{} bash -c '
    CORVANE_RUN_PREFIX="$1 --log-file=$2/prepare.$5.memcheck" \
        bash "$3/tests/prepare/run_case.sh" "$4/prepare/corvane-prepare" "$4/corvane" "$5" > "$2/prepare.$5.out" 2>&1 \
        && touch "$2/prepare.$5.passed"' _ "$memcheck" "$valgrind_log" "$root" "$plain_build" {}
wrapper() {  # NAME PROGRAM: a script that runs PROGRAM under memcheck
    printf '#!/usr/bin/env bash\nexec %s --log-file=%s/%s.%%p.memcheck %s "$@"\n' \
        "$memcheck" "$valgrind_log" "$1" "$2" > "$valgrind_log/$1" && chmod +x "$valgrind_log/$1"
}
wrapper corvane-simulate "$plain_build/simulate/corvane-simulate"
wrapper corvane-scan "$plain_build/scan/corvane-scan"
bash "$root/tests/simulate/end_to_end.sh" "$valgrind_log/corvane-simulate" "$plain_build/corvane" refusals \
    > "$valgrind_log/simulate.refusals.out" 2>&1 && touch "$valgrind_log/simulate.refusals.passed"
bash "$root/tests/scan/run_scan_tests.sh" refusals "$valgrind_log/corvane-scan" "$plain_build/corvane" \
    "$plain_build/simulate/corvane-simulate" > "$valgrind_log/scan.refusals.out" 2>&1 \
    && touch "$valgrind_log/scan.refusals.passed"
other_run=0
other_passed=0
for name in $(printf 'prepare.%s\n' $prepare_rows) simulate.refusals scan.refusals; do
    other_run=$((other_run + 1))
    if [ -e "$valgrind_log/$name.passed" ]; then
        other_passed=$((other_passed + 1))
    else
        echo "FAILED under valgrind: $name"
        cat "$valgrind_log/$name.out" 2>/dev/null | head -n 20
    fi
done
# A program that exits with status 99 made memcheck report an error.
for report in "$valgrind_log"/*.memcheck; do
    [ -s "$report" ] || continue
    echo "memcheck reported in $(basename "$report"):"; head -n 30 "$report"
    other_passed=-1
done

echo
echo "make check: AddressSanitizer + UndefinedBehaviorSanitizer: ${asan_summary:-no result}"
echo "make check: valgrind memcheck: $valgrind_passed of $valgrind_run end-to-end cases of corvane passed"
echo "make check: valgrind memcheck: $other_passed of $other_run runs of corvane-prepare, corvane-simulate and corvane-scan passed"
[ "$asan_status" -eq 0 ] && [ "$valgrind_passed" -eq "$valgrind_run" ] && [ "$other_passed" -eq "$other_run" ]
