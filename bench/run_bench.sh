#!/usr/bin/env bash
# The bootstrap benchmark: generates its data file, runs the program on it with
# 1000 replicates in a scratch folder, and prints the wall time and the
# replicates per second.
#
#   run_bench.sh PROGRAM GENERATOR SCRATCH_FOLDER [REPLICATES]
set -euo pipefail
program=$(readlink -f "$1")
generator=$(readlink -f "$2")
scratch=$3
replicates=${4:-1000}
seed=12345

mkdir -p "$scratch"
cd "$scratch"
rm -f bootstrap.txt result_admix.txt log_file_admix.txt
"$generator" > bench_data.txt

start=$(date +%s.%N)
set +e
printf 'bench_data.txt\ny\ny\n%s\n%s\nq\n' "$replicates" "$seed" | "$program" > console.txt
status=$?
set -e
end=$(date +%s.%N)

if [ "$status" -ne 1 ]; then
    echo "the run did not complete (exit status $status); see $scratch/console.txt" >&2
    exit 1
fi
lines=$(($(wc -l < bootstrap.txt) - 1))
if [ "$lines" -ne "$replicates" ]; then
    echo "bootstrap.txt holds $lines replicates instead of $replicates" >&2
    exit 1
fi
awk -v start="$start" -v end="$end" -v n="$replicates" 'BEGIN {
    wall = end - start
    printf "bootstrap benchmark: 5 parental populations, 8 loci, 60 haplotypes, samples of 200\n"
    printf "%d replicates in %.3f s wall time: %.0f replicates per second\n", n, wall, n / wall
}'
echo "files in $scratch (seed $seed)"
