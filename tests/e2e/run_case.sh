#!/usr/bin/env bash
# Runs the real program once, in a fresh temporary folder, and compares what it
# leaves behind byte for byte with what a case folder expects.
#
#   run_case.sh PROGRAM CASE_DIR
#
# CASE_DIR holds:
#   console     what the user types (piped to the program; no file: empty input)
#   arguments   the program's command-line arguments, one a line (no file: none,
#               which starts the console dialogue)
#   given/      files put in the working folder before the run (data files, an
#               earlier report, ...); a sub-folder is copied as it is
#   expected/   files that must exist afterwards with exactly these bytes;
#               "stdout" stands for the console output, "stderr" for the
#               warnings and messages on standard error, and "status" for the
#               exit status followed by a line end
#   absent      names of files that must not exist after the run, one a line
#   contains/   files whose every line must occur in the file of the same name
#               after the run ("stdout", "stderr" for the standard streams): for a
#               message that holds a figure of this machine, such as its memory size
#   ilp32/expected/, ilp32/contains/
#               for a program with 4-byte pointers (i386), files that stand in
#               for those of expected/ and contains/ of the same name: a storage
#               size it names
#   file_limit_kb
#               a limit on the size of every file the program writes, in KiB
#               (ulimit -f), the signal of a file grown too large ignored, so
#               that a write fails as on a disk that fills up
#   memory_limit_kb
#               a limit on the program's virtual memory, in KiB, so that an
#               allocation fails (a soft limit, which an emulated build turns
#               into the guest's address space: cmake/run_emulated.sh); the case is skipped under CORVANE_RUN_PREFIX
#               and for a sanitizer build, which cannot run under such a limit
#
# CORVANE_RUN_PREFIX (for example a valgrind command) is put before the program.
# CORVANE_POINTER_BYTES is the size of the program's pointers (CTest sets it to
# the build's; 8 when unset).
# With CORVANE_STATUS_ONLY=1 only the exit status is compared.
# CORVANE_THREAD_COUNTS="1 2 3 7" runs the case once per number of threads
# (given to the program as CORVANE_THREADS), each against the same files.
set -u
if [ -n "${CORVANE_THREAD_COUNTS:-}" ]; then
    for threads in $CORVANE_THREAD_COUNTS; do
        CORVANE_THREAD_COUNTS="" CORVANE_THREADS=$threads bash "$0" "$@" || { echo "(on $threads threads)"; exit 1; }
    done
    exit 0
fi
program=$(readlink -f "$1")
case_dir=$(readlink -f "$2")
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT

if [ -d "$case_dir/given" ]; then
    cp -R "$case_dir/given/." "$work/"
fi
console_file=/dev/null
[ -f "$case_dir/console" ] && console_file="$case_dir/console"

memory_limit=""
if [ -f "$case_dir/memory_limit_kb" ]; then
    memory_limit=$(cat "$case_dir/memory_limit_kb")
    if [ -n "${CORVANE_RUN_PREFIX:-}" ] || grep -q -a -m 1 -e __asan_init -e __tsan_init "$program"; then
        echo "SKIP: a memory limit cannot be applied to this run"
        exit 0
    fi
fi

(
    cd "$work" || exit 99
    [ -z "$memory_limit" ] || ulimit -S -v "$memory_limit" || exit 98
    if [ -f "$case_dir/file_limit_kb" ]; then
        trap '' XFSZ
        ulimit -f "$(cat "$case_dir/file_limit_kb")" || exit 97
    fi
    # shellcheck disable=SC2086
    arguments=()
    if [ -f "$case_dir/arguments" ]; then
        mapfile -t arguments < "$case_dir/arguments"
    fi
    ${CORVANE_RUN_PREFIX:-} "$program" "${arguments[@]}" < "$console_file" > "$work/.stdout" 2> "$work/.stderr"
    echo $? > "$work/.status"
)

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

compare() {  # expected-file actual-file label
    if [ ! -e "$2" ]; then
        fail "$3 was not written"
    elif ! cmp -s "$1" "$2"; then
        fail "$3 differs from the expected bytes:"
        diff -u "$1" "$2" | head -n 40 | cat -A | head -n 40
    fi
}

for_this_platform() {  # expected|contains NAME: the file a case holds for this program
    if [ "${CORVANE_POINTER_BYTES:-8}" = 4 ] && [ -e "$case_dir/ilp32/$1/$2" ]; then
        echo "$case_dir/ilp32/$1/$2"
    else
        echo "$case_dir/$1/$2"
    fi
}

for expected in "$case_dir"/expected/*; do
    [ -e "$expected" ] || continue
    name=$(basename "$expected")
    expected=$(for_this_platform expected "$name")
    case "$name" in
        status) compare "$expected" "$work/.status" "the exit status" ;;
        stdout) [ "${CORVANE_STATUS_ONLY:-0}" = 1 ] || compare "$expected" "$work/.stdout" "the console output" ;;
        stderr) [ "${CORVANE_STATUS_ONLY:-0}" = 1 ] || compare "$expected" "$work/.stderr" "standard error" ;;
        *) [ "${CORVANE_STATUS_ONLY:-0}" = 1 ] || compare "$expected" "$work/$name" "$name" ;;
    esac
done

if [ "${CORVANE_STATUS_ONLY:-0}" != 1 ]; then
    for wanted in "$case_dir"/contains/*; do
        [ -e "$wanted" ] || continue
        name=$(basename "$wanted")
        wanted=$(for_this_platform contains "$name")
        actual="$work/$name"
        [ "$name" = stdout ] && actual="$work/.stdout"
        [ "$name" = stderr ] && actual="$work/.stderr"
        if [ ! -e "$actual" ]; then
            fail "$name was not written"
            continue
        fi
        while IFS= read -r line; do
            grep -q -F -- "$line" "$actual" || fail "$name does not contain: $line"
        done < "$wanted"
    done
fi

if [ -f "$case_dir/absent" ]; then
    while IFS= read -r name; do
        [ -n "$name" ] || continue
        [ -e "$work/$name" ] && fail "$name exists but must not"
    done < "$case_dir/absent"
fi

if [ "$failures" -gt 0 ]; then
    echo "exit status: $(cat "$work/.status")"
    echo "standard error:"
    head -n 40 "$work/.stderr"
    exit 1
fi
exit 0
