#!/usr/bin/env bash
# The bootstrap benchmark: three workloads, each run by this build, by a build
# of an older commit and by this build with the plain arithmetic forced (the
# straightforward implementation, the floor), in alternating rounds; prints the
# medians of wall time, CPU time, replicates per second and peak memory, and
# checks that the three give byte-identical files.
#
#   run_bench.sh PROGRAM GENERATOR SCRATCH_FOLDER [OLD_COMMIT]
#
# OLD_COMMIT (default 87f7a9f) is built from `git archive` in the scratch folder,
# once. BENCH_ROUNDS (default 3) sets the number of rounds.
#   dense   5 parental populations, 8 loci, 60 haplotypes present in nearly every
#           sample, samples of 200, whole distances, 1000 replicates
#   sparse  the same shape with skewed frequencies and decimal distances, 1000
#   loci    2 parental populations, 700 loci of about 25 alleles, decimal
#           distances, samples of 120, 100 replicates
set -euo pipefail
program=$(readlink -f "$1")
generator=$(readlink -f "$2")
mkdir -p "$3"
scratch=$(readlink -f "$3")
old_commit=${4:-87f7a9f}
rounds=${BENCH_ROUNDS:-3}
root=$(cd "$(dirname "$0")/.." && pwd)
seed=12345
if [ ! -x /usr/bin/time ]; then
    echo "make bench measures CPU time and peak memory with GNU time: apt-get install time" >&2
    exit 1
fi

old_build=$scratch/old-$old_commit
if [ ! -x "$old_build/build/corvane" ]; then
    echo "building $old_commit in $old_build" >&2
    rm -rf "$old_build"
    mkdir -p "$old_build/src"
    git -C "$root" archive "$old_commit" | tar -x -C "$old_build/src"
    cmake -S "$old_build/src" -B "$old_build/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$old_build/configure.log"
    cmake --build "$old_build/build" -j 2 --target corvane > "$old_build/build.log"
fi
old_program=$old_build/build/corvane

# One run: PROGRAM WORKLOAD REPLICATES FOLDER [environment...]; appends
# "wall cpu peak_kb" to FOLDER/times.
run_once() {
    local prog=$1 workload=$2 replicates=$3 folder=$4
    shift 4
    mkdir -p "$folder"
    rm -f "$folder"/*.txt
    cp "$scratch/$workload.data" "$folder/data.txt"
    local start end status
    start=$(date +%s.%N)
    set +e
    (cd "$folder" && printf 'data.txt\ny\ny\n%s\n%s\nq\n' "$replicates" "$seed" |
        env "$@" /usr/bin/time -f '%U %S %M' -o resources "$prog" > console.txt)
    status=$?
    set -e
    end=$(date +%s.%N)
    if [ "$status" -ne 1 ]; then
        echo "$prog on $workload did not complete (exit status $status); see $folder" >&2
        exit 1
    fi
    read -r user system peak < <(tail -n 1 "$folder/resources")
    echo "$start $end $user $system $peak" | awk '{ printf "%.4f %.4f %d\n", $2 - $1, $3 + $4, $5 }' >> "$folder/times"
}

median() {  # FILE COLUMN
    sort -g -k "$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

printf '%-7s %-22s %9s %9s %10s %9s %9s %9s\n' workload program "wall s" "cpu s" "repl/s" "peak MB" "x old" "x floor"
for workload in dense sparse loci; do
    replicates=1000
    [ "$workload" = loci ] && replicates=100
    "$generator" "$workload" > "$scratch/$workload.data"
    folders=("$scratch/$workload/old" "$scratch/$workload/new" "$scratch/$workload/floor")
    for folder in "${folders[@]}"; do rm -f "$folder/times"; done
    for ((round = 0; round < rounds; ++round)); do
        run_once "$old_program" "$workload" "$replicates" "${folders[0]}"
        run_once "$program" "$workload" "$replicates" "${folders[1]}"
        run_once "$program" "$workload" "$replicates" "${folders[2]}" CORVANE_PLAIN_ARITHMETIC=1
    done
    for file in console.txt log_file_admix.txt result_admix.txt bootstrap.txt; do
        for folder in "${folders[@]:1}"; do
            cmp -s "${folders[0]}/$file" "$folder/$file" ||
                { echo "$workload: $folder/$file differs from the old build's" >&2; exit 1; }
        done
    done
    old_wall=$(median "${folders[0]}/times" 1)
    floor_wall=$(median "${folders[2]}/times" 1)
    for i in 0 1 2; do
        label=("old $old_commit" "this build" "floor (plain)")
        wall=$(median "${folders[$i]}/times" 1)
        cpu=$(median "${folders[$i]}/times" 2)
        peak=$(median "${folders[$i]}/times" 3)
        awk -v w="$workload" -v l="${label[$i]}" -v wall="$wall" -v cpu="$cpu" -v peak="$peak" -v n="$replicates" \
            -v old="$old_wall" -v floor="$floor_wall" 'BEGIN {
            printf "%-7s %-22s %9.3f %9.3f %10.0f %9.1f %9.2f %9.2f\n", w, l, wall, cpu, n / wall, peak / 1024, old / wall, floor / wall
        }'
    done
done
echo "medians of $rounds alternating rounds; files of the three programs byte-identical; runs in $scratch"
