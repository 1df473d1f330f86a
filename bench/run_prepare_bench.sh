#!/usr/bin/env bash
# The corvane-prepare benchmark: generates a phased BCF of 2500 samples with 100
# regions of 50 variant sites, then times corvane-prepare on it.
#
#   run_prepare_bench.sh PREPARE GENERATOR SCRATCH_FOLDER
set -euo pipefail
prepare=$(readlink -f "$1")
generator=$(readlink -f "$2")
scratch=$3
mkdir -p "$scratch"
cd "$scratch"
"$generator" phased.bcf regions.bed populations.tsv
start=$(date +%s.%N)
"$prepare" --vcf phased.bcf --regions regions.bed --populations populations.tsv \
    --hybrid hybrid --parents north,south -o data.txt 2> summary.txt
end=$(date +%s.%N)
head -n 1 summary.txt
echo "corvane-prepare on 2500 samples, 100 regions of 50 variant sites: $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }') s"
