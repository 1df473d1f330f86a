#!/usr/bin/env bash
# Whole runs of the real program on generated data, in a temporary folder.
#
#   run_whole_runs.sh PROGRAM GENERATOR plain_agrees
#       the three benchmark workloads (and the dense one answered "n" at the
#       molecular question), each run with the fast paths on 3 threads and with
#       the plain arithmetic forced: every file, the console and the warnings
#       must be byte-identical. Two more runs of the many-loci workload, whose
#       data file is read in parts side by side, have a doubtful distance and
#       a distance that is no number in the last part: the same warnings, the
#       same message.
#   run_whole_runs.sh PROGRAM GENERATOR one_gigabyte
#       100000 loci of 20 haplotypes, 3 parental populations, 10 replicates,
#       under a 1 GiB limit on virtual memory: the run must complete.
#   run_whole_runs.sh PROGRAM GENERATOR flat_memory
#       a tiny data file (2 parental populations, 3 loci of 10 haplotypes) at
#       10000 and at 300000 replicates with the full log, on 1 and on 3 threads:
#       the peak memory (getrusage, through GNU time) of the larger run may
#       exceed the smaller one's by 15 % and 24 bytes per replicate and parental
#       population (the estimates, kept by the engine and by the run's outcome,
#       and the quantiles' doubles), no more.
set -u
program=$(readlink -f "$1")
generator=$(readlink -f "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

run() {  # FOLDER WORKLOAD ANSWERS [environment...]
    local folder=$work/$1 workload=$2 answers=$3
    shift 3
    mkdir -p "$folder"
    cp "$work/$workload.txt" "$folder/data.txt"
    (cd "$folder" && printf '%b' "$answers" | env "$@" "$program" > console.txt 2> errors.txt)
    echo $? > "$folder/status"
}

generate() {
    "$generator" "$1" > "$work/$1.txt" || { echo "FAIL: the generator failed on $1"; exit 1; }
}

case "$3" in
plain_agrees)
    for workload in dense sparse loci; do generate "$workload"; done
    # The diagonal of haplotype 0 of locus 690 (of 700) made -0.5, then x.
    for change in doubtful:-0.5 broken:x; do
        awk -v to="${change#*:}" '!done && /^Locus690 / { print; getline; print to; done = 1; next } { print }' \
            "$work/loci.txt" > "$work/loci_${change%%:*}.txt"
    done
    cases=("dense:data.txt\ny\ny\n40\n12345\nq\n" "sparse:data.txt\ny\ny\n40\n99\nq\n"
           "loci:data.txt\ny\ny\n5\n7\nq\n" "dense:data.txt\nn\ny\n40\n3\nq\n"
           "loci_doubtful:data.txt\ny\ny\n5\n7\nq\n" "loci_broken:data.txt\ny\ny\n5\n7\nq\n")
    for i in "${!cases[@]}"; do
        workload=${cases[$i]%%:*}
        answers=${cases[$i]#*:}
        run "fast$i" "$workload" "$answers" CORVANE_THREADS=3
        run "plain$i" "$workload" "$answers" CORVANE_PLAIN_ARITHMETIC=1
        for file in status console.txt errors.txt log_file_admix.txt result_admix.txt bootstrap.txt; do
            [ -e "$work/fast$i/$file" ] || [ -e "$work/plain$i/$file" ] || continue  # made by neither
            if ! cmp -s "$work/fast$i/$file" "$work/plain$i/$file"; then
                echo "FAIL: $workload ($answers): $file differs between the fast paths and the plain arithmetic"
                failures=$((failures + 1))
            fi
        done
        case $workload in
        loci_doubtful) grep -q "distance of haplotype 0 to itself is -0.5" "$work/fast$i/errors.txt" ||
                           { echo "FAIL: no warning of the doubtful distance"; failures=$((failures + 1)); } ;;
        loci_broken) grep -q 'of locus 689 (a decimal number), found "x"' "$work/fast$i/console.txt" ||
                         { echo "FAIL: no message naming the token x"; failures=$((failures + 1)); }
                     continue ;;
        esac
        [ "$(cat "$work/fast$i/status")" = 1 ] || { echo "FAIL: $workload did not complete"; failures=$((failures + 1)); }
    done
    ;;
one_gigabyte)
    if [ -n "${CORVANE_RUN_PREFIX:-}" ] || grep -q -a -m 1 __asan_init "$program"; then
        echo "SKIP: a memory limit cannot be applied to this run"
        exit 0
    fi
    generate panel
    (ulimit -S -v 1048576 && run big panel "data.txt\ny\ny\n10\n7\nq\n")
    status=$(cat "$work/big/status")
    replicates=$(($(wc -l < "$work/big/bootstrap.txt") - 1))
    if [ "$status" != 1 ] || [ "$replicates" != 10 ] || ! grep -q '^Bootstrapped SD of mY3 = ' "$work/big/result_admix.txt"; then
        echo "FAIL: 100000 loci within 1 GiB: status $status, $replicates replicates"
        tail -n 3 "$work/big/console.txt"
        failures=$((failures + 1))
    fi
    ;;
flat_memory)
    if [ -n "${CORVANE_RUN_PREFIX:-}" ] || grep -q -a -m 1 -e __asan_init -e __tsan_init "$program"; then
        echo "SKIP: a sanitizer's own memory would be measured"
        exit 0
    fi
    [ -x /usr/bin/time ] || { echo "SKIP: GNU time (/usr/bin/time) is missing"; exit 0; }
    generate tiny
    for threads in 1 3; do
        for replicates in 10000 300000; do
            folder=$work/flat-$threads-$replicates
            mkdir -p "$folder"
            /usr/bin/time -f '%M' -o "$folder/peak" "$program" -b "$replicates" --threads "$threads" --quiet \
                -o "$folder" "$work/tiny.txt" > /dev/null || { echo "FAIL: $replicates replicates did not complete"; exit 1; }
            rm -f "$folder/log_file_admix.txt"
        done
        small=$(tail -n 1 "$work/flat-$threads-10000/peak")
        large=$(tail -n 1 "$work/flat-$threads-300000/peak")
        allowed=$(awk -v s="$small" 'BEGIN { printf "%d", s * 1.15 + (300000 - 10000) * 2 * 24 / 1024 }')
        echo "$threads threads: peak $small KiB at 10000 replicates, $large KiB at 300000 (allowed $allowed)"
        if [ "$large" -gt "$allowed" ]; then
            echo "FAIL: the peak memory grows with the replicates on $threads threads"
            failures=$((failures + 1))
        fi
    done
    ;;
*)
    echo "unknown mode $3"
    exit 2
    ;;
esac
[ "$failures" -eq 0 ] && echo "passed" || exit 1
