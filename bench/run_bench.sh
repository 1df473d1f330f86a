#!/usr/bin/env bash
# The bootstrap benchmark, in two tables.
#
# 1. Speed: four workloads, each run by the straightforward implementation (this
#    build with the plain arithmetic forced: plain pair sums, draws that walk the
#    counts, every log line written and flushed by itself, one thread; the floor)
#    and by this build on 1 thread, on 2 threads and on every core, in
#    alternating rounds, with the full log; prints the medians of wall time, CPU
#    time and peak memory, the threads' speed-up over one thread (the median of
#    the ratios within each round), and checks that every program leaves
#    byte-identical files.
# 2. Scaling: time and peak memory as one dimension grows from a base of 2
#    parental populations, 100 loci of 20 haplotypes, samples of 100 copies and
#    100 replicates (loci 100 ... 100000, the last with 10 replicates only, to keep
#    the benchmark short; haplotypes 10 ... 1000, the last at 20 loci, whose
#    million distances each would take a minute to read; parents 2 ... 10, replicates
#    100 ... 10000), for both resampling schemes, on 1 thread (wall and CPU time)
#    and on every core, without a log (--log none), so that the estimate's own
#    cost shows. Each run includes reading the data and the observed estimate.
#
#   run_bench.sh PROGRAM GENERATOR MEASURE_RUN SCRATCH_FOLDER
#
# MEASURE_RUN (bench/measure_run.cpp) times each run from the program's start to
# its exit and reads its CPU time and peak memory.
#
# BENCH_ROUNDS (default 3) sets the rounds of the first table.
#   dense            5 parental populations, 8 loci, 60 haplotypes present in
#                    nearly every sample, samples of 200, whole distances, 1000
#                    replicates
#   sparse           the same shape with skewed frequencies and decimal distances
#   loci             2 parental populations, 700 loci of about 25 alleles,
#                    decimal distances, samples of 120, 100 replicates
#   microsatellites  3 parental populations, 673 loci of 5 to 30 alleles, whole
#                    distances, samples of 90, 100 replicates
set -euo pipefail
program=$(readlink -f "$1")
generator=$(readlink -f "$2")
measure=$(readlink -f "$3")
mkdir -p "$4"
scratch=$(readlink -f "$4")
rounds=${BENCH_ROUNDS:-3}
seed=12345
cores=$(nproc)

# One run: FOLDER DATA REPLICATES THREADS RESAMPLE LOG [environment...]; appends
# "wall cpu peak_kb" to FOLDER/times.
run_once() {
    local folder=$1 data=$2 replicates=$3 threads=$4 resample=$5 log=$6
    shift 6
    mkdir -p "$folder/out"
    rm -f "$folder"/out/*
    # The files of the run before (the floor's log is written line by line) are
    # put on disk first, so that their writing back does not fall into this run.
    sync
    local status
    set +e
    "$measure" "$folder/times" "$@" "$program" -b "$replicates" -s "$seed" --resample "$resample" \
        --threads "$threads" --log "$log" --quiet -o "$folder/out" "$data" > "$folder/out/table.txt" \
        2> "$folder/out/warnings.txt"
    status=$?
    set -e
    if [ "$status" -ne 0 ]; then
        cat "$folder/out/warnings.txt" >&2
        echo "$program on $data did not complete (exit status $status); see $folder" >&2
        exit 1
    fi
}

median() {  # FILE COLUMN
    sort -g -k "$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The speed-up of N threads over one: the median over the rounds of the ratio
# within each round, whose runs follow one another, so that a machine whose speed
# drifts from one minute to the next weighs less than in a ratio of medians.
paired_speedup() {  # ONE_THREAD_TIMES N_THREAD_TIMES
    paste -d ' ' "$1" "$2" | awk '{ print $1 / $4 }' | sort -g |
        awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "Speed: medians of $rounds alternating rounds, full log, resampling copies ($cores cores here)"
printf '%-16s %-22s %9s %9s %9s %9s %9s\n' workload program "wall s" "cpu s" "peak MB" "x floor" "x 1 thr"
labels=("floor (plain)" "1 thread" "2 threads" "$cores threads")
settings=("1 CORVANE_PLAIN_ARITHMETIC=1" "1" "2" "$cores")
[ "$cores" -gt 2 ] || { labels=("${labels[@]:0:3}"); settings=("${settings[@]:0:3}"); }
for workload in dense sparse loci microsatellites; do
    replicates=1000
    case $workload in loci | microsatellites) replicates=100 ;; esac
    "$generator" "$workload" > "$scratch/$workload.data"
    for i in "${!settings[@]}"; do rm -f "$scratch/$workload/$i/times"; done
    for ((round = 0; round < rounds; ++round)); do
        for i in "${!settings[@]}"; do
            read -r threads environment <<< "${settings[$i]}"
            run_once "$scratch/$workload/$i" "$scratch/$workload.data" "$replicates" "$threads" copies full $environment
        done
    done
    for i in "${!settings[@]}"; do
        for file in log_file_admix.txt result_admix.txt bootstrap.txt table.txt; do
            cmp -s "$scratch/$workload/0/out/$file" "$scratch/$workload/$i/out/$file" ||
                { echo "$workload: ${labels[$i]} wrote another $file than the floor" >&2; exit 1; }
        done
    done
    floor_wall=$(median "$scratch/$workload/0/times" 1)
    for i in "${!settings[@]}"; do
        speedup=""
        [ "$i" -lt 2 ] || speedup=$(paired_speedup "$scratch/$workload/1/times" "$scratch/$workload/$i/times")
        awk -v w="$workload" -v l="${labels[$i]}" -v wall="$(median "$scratch/$workload/$i/times" 1)" \
            -v cpu="$(median "$scratch/$workload/$i/times" 2)" -v peak="$(median "$scratch/$workload/$i/times" 3)" \
            -v floor="$floor_wall" -v speedup="$speedup" 'BEGIN {
            printf "%-16s %-22s %9.3f %9.3f %9.1f %9.2f", w, l, wall, cpu, peak / 1024, floor / wall
            if (speedup != "") printf " %9.2f", speedup
            printf "\n"
        }'
    done
done
echo "files of every program byte-identical"
echo

# The scaling table: one point per line, the base with one dimension changed.
echo "Scaling: one run per point, no log; base 2 parents, 100 loci, 20 haplotypes, samples of 100, 100 replicates"
printf '%-11s %7s %7s %6s %5s %10s  %-7s %9s %9s %7s %9s %7s\n' dimension value parents loci haps replicates \
    scheme "1 thr s" "cpu s" "MB" "$cores thr s" "MB"
point() {  # DIMENSION VALUE PARENTS LOCI HAPLOTYPES REPLICATES
    local dimension=$1 value=$2 parents=$3 loci=$4 haplotypes=$5 replicates=$6
    local data=$scratch/scale-$parents-$loci-$haplotypes.data
    [ -e "$data" ] || "$generator" shape "$parents" "$loci" "$haplotypes" 100 > "$data"
    for resample in copies loci; do
        local line=""
        for threads in 1 "$cores"; do
            local folder=$scratch/scale/$dimension-$value-$resample-$threads
            rm -f "$folder/times"
            run_once "$folder" "$data" "$replicates" "$threads" "$resample" none
            if [ "$threads" = 1 ]; then
                line+=$(awk '{ printf " %9.3f %9.3f %7.1f", $1, $2, $3 / 1024 }' "$folder/times")
            else
                line+=$(awk '{ printf " %9.3f %7.1f", $1, $3 / 1024 }' "$folder/times")
            fi
        done
        printf '%-11s %7s %7s %6s %5s %10s  %-7s%s\n' "$dimension" "$value" "$parents" "$loci" "$haplotypes" \
            "$replicates" "$resample" "$line"
    done
}
for loci in 100 1000 10000; do point loci "$loci" 2 "$loci" 20 100; done
point loci 100000 2 100000 20 10
for haplotypes in 10 100; do point haplotypes "$haplotypes" 2 100 "$haplotypes" 100; done
point haplotypes 1000 2 20 1000 100
for parents in 5 10; do point parents "$parents" "$parents" 100 20 100; done
for replicates in 1000 10000; do point replicates "$replicates" 2 100 20 "$replicates"; done
echo "runs in $scratch"
