#!/usr/bin/env bash
# One end-to-end case of corvane-prepare: runs the real program in a fresh
# temporary folder holding a copy of tests/prepare/inputs/, then checks its exit
# status, its whole standard error, the files it wrote (byte for byte) and, when
# asked, the report of corvane run on the data file it wrote.
#
#   run_case.sh PREPARE CORVANE NAME
#
# CORVANE_RUN_PREFIX (for example a valgrind command) is put before the program;
# with CORVANE_STATUS_ONLY=1 only the exit status is compared.
#
# NAME is a row of cases.tsv, whose tab-separated fields after the name are:
# STATUS     the expected exit status
# ARGUMENTS  the command line after the program's name (shell words)
# STDERR     the whole standard error: its lines joined by "\n", "-" for none, or
#            "@FILE" for a file under tests/prepare/expected/ ("\t" stands for a tab)
# FILES      "written=expected ..." pairs, expected under tests/prepare/expected/
#            (stdout.txt is the standard output), or "-"
# ESTIMATE   the expected result_admix.txt of `corvane` on data.txt, or "-"
set -u
here=$(cd "$(dirname "$0")" && pwd)
prepare=$(readlink -f "$1")
corvane=$(readlink -f "$2")
row=$(awk -F '\t' -v name="$3" '$1 == name' "$here/cases.tsv")
[ -n "$row" ] || { echo "no case $3 in cases.tsv"; exit 99; }
IFS=$'\t' read -r _ status arguments message files estimate <<< "$row"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$here/inputs/." "$work/"
cd "$work" || exit 99

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

eval "set -- $arguments"
# shellcheck disable=SC2086
${CORVANE_RUN_PREFIX:-} "$prepare" "$@" > stdout.txt 2> stderr.txt
actual=$?
[ "$actual" = "$status" ] || fail "exit status $actual, expected $status"
if [ "${CORVANE_STATUS_ONLY:-}" = 1 ]; then
    [ "$failures" = 0 ] || { echo "standard error was:"; cat stderr.txt; }
    exit $((failures > 0))
fi
case "$message" in
    -) : > expected_stderr.txt ;;
    @*) cp "$here/expected/${message#@}" expected_stderr.txt ;;
    *) message=${message//\\t/$'\t'}; printf '%s\n' "${message//\\n/$'\n'}" > expected_stderr.txt ;;
esac
if ! cmp -s expected_stderr.txt stderr.txt; then
    fail "standard error differs:"
    diff -u expected_stderr.txt stderr.txt
fi
if [ "$files" != - ]; then
    for pair in $files; do
        written=${pair%%=*} expected=$here/expected/${pair#*=}
        if [ ! -f "$written" ]; then
            fail "$written was not written"
        elif ! cmp -s "$expected" "$written"; then
            fail "$written differs from ${pair#*=}:"
            diff -u "$expected" "$written" | head -n 30
        fi
    done
fi
if [ "$estimate" != - ]; then
    printf 'data.txt\ny\nn\nx\n' | "$corvane" > corvane.txt 2>&1
    # corvane ends a complete run with status 1.
    [ $? = 1 ] || fail "corvane did not complete a run on data.txt"
    cmp -s "$here/expected/$estimate" result_admix.txt || { fail "result_admix.txt differs from $estimate:"; diff -u "$here/expected/$estimate" result_admix.txt; }
fi
if [ "$failures" -gt 0 ]; then
    echo "standard error was:"; cat stderr.txt
    exit 1
fi
