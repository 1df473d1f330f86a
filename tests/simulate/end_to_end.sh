#!/usr/bin/env bash
# Whole runs of corvane-simulate in a fresh temporary folder.
#
#   end_to_end.sh SIMULATE CORVANE CHECK
#
# CHECK is one of
#   reproducible  the same seed writes the same bytes (to a file or to standard
#                 output, as a star or as its tree), another seed other bytes
#   by_hand       theta = 1e-9 leaves every copy without mutation (the chance of
#                 one is below 1e-7), so the file is known in advance
#   tree_by_hand  the same with a tree of populations: the data file, its key
#                 and the truth, all named
#   estimate      corvane reads 100 simulated loci and finds the true mix
#   refusals      usage errors, an unwritable locus and a data set beyond memory:
#                 status, message, no file
#   failed_write  a write that fails (the file size limit) keeps the existing
#                 file and leaves nothing beside it
set -u
simulate=$(readlink -f "$1")
corvane=$(readlink -f "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 99

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

case "$3" in
reproducible)
    model=(--mix 0.2,0.3,0.5 --split 2 --admixture-time 0.1 --theta 3 --copies 4,5,6,7 --loci 20)
    "$simulate" "${model[@]}" --seed 11 -o a.txt 2>/dev/null
    "$simulate" "${model[@]}" --seed 11 -o b.txt 2>/dev/null
    "$simulate" "${model[@]}" --seed 11 > to_stdout.txt 2>/dev/null
    "$simulate" "${model[@]}" --seed 12 -o c.txt 2>/dev/null
    cmp a.txt b.txt || fail "the same seed wrote different files"
    cmp a.txt to_stdout.txt || fail "standard output differs from the file"
    cmp -s a.txt c.txt && fail "seeds 11 and 12 wrote the same file"
    # The star is the tree with one inner node.
    "$simulate" --tree '(parent1:2,parent2:2,parent3:2);' --admixture parent1:0.2,parent2:0.3,parent3:0.5 \
        --admixture-time 0.1 --theta 3 --copies 4,5,6,7 --loci 20 --seed 11 -o tree.txt 2>/dev/null
    cmp a.txt tree.txt || fail "the star as a tree wrote another file"
    # The same star with a branch of length 0 inside: an epoch of no length draws nothing.
    "$simulate" --tree '((parent1:2,parent2:2):0,parent3:2);' --admixture parent1:0.2,parent2:0.3,parent3:0.5 \
        --admixture-time 0.1 --theta 3 --copies 4,5,6,7 --loci 20 --seed 11 -o nested.txt 2>/dev/null
    cmp tree.txt nested.txt || fail "a branch of length 0 changed the file"
    ;;
by_hand)
    "$simulate" --mix 0.4,0.6 --split 1 --admixture-time 0.25 --theta 1e-9 --copies 3,4,5 --loci 2 \
        -o data.txt 2> truth.txt || fail "exit status $?"
    printf '0.25 5e-10\n2 2\nlocus1 1\n0\nlocus2 1\n0\nlocus1\n3 4 5\n3 4 5\nlocus2\n3 4 5\n3 4 5\n' \
        | cmp - data.txt || fail "the data file differs"
    echo 'True admixture proportions (seed 1): mY1 = 0.4, mY2 = 0.6' | cmp - truth.txt || fail "the truth line differs"
    ;;
tree_by_hand)
    "$simulate" --tree '((A:0.5,B:0.5):0.5, C:1);' --admixture A:0.4,C:0.6 --admixture-time 0.25 --hybrid H \
        --theta 1e-9 --copies 3,4,5,2 --loci 2 -o data.txt 2> truth.txt || fail "exit status $?"
    printf '0.25 5e-10\n3 2\nlocus1 1\n0\nlocus2 1\n0\nlocus1\n3 4 5 2\n3 4 5 2\nlocus2\n3 4 5 2\n3 4 5 2\n' \
        | cmp - data.txt || fail "the data file differs"
    # The key's first line is the program's version.
    cat > key.txt <<'KEY'
# command: corvane-simulate --tree '((A:0.5,B:0.5):0.5, C:1);' --admixture A:0.4,C:0.6 --admixture-time 0.25 --hybrid H --theta 1e-9 --copies 3,4,5,2 --loci 2 -o data.txt
# data file: data.txt
# hybrid: H; parents: A (mY1), B (mY2), C (mY3)
locus	index	haplotype	H	A	B	C
locus1	0	hap1	3	4	5	2
locus2	0	hap1	3	4	5	2
KEY
    tail -n +2 data.haplotypes.tsv | cmp - key.txt || fail "the key file differs"
    echo 'True admixture proportions (seed 1): A = 0.4, B = 0, C = 0.6' | cmp - truth.txt || fail "the truth line differs"
    ;;
failed_write)
    echo "an earlier data file" > out.txt
    # The size limit stops the writes with EFBIG once the signal it raises is ignored.
    (trap '' XFSZ; ulimit -f 8; exec "$simulate" --theta 4 --copies 30 --loci 400 -o out.txt 2> stderr.txt)
    status=$?
    [ "$status" -eq 1 ] || fail "exit status $status, not 1"
    grep -q -x 'corvane-simulate: error: cannot write the data file "out.txt": File too large' stderr.txt \
        || fail "message: $(cat stderr.txt)"
    echo "an earlier data file" | cmp -s - out.txt || fail "the earlier data file was changed"
    [ "$(ls)" = "$(printf 'out.txt\nstderr.txt')" ] || fail "files left behind: $(ls | tr '\n' ' ')"
    # A key file that cannot be written takes the data file written beside it away.
    "$simulate" --copies 3 --loci 2 -o out.txt --key missing/key.tsv 2> stderr.txt
    [ $? -eq 1 ] || fail "a key file in a missing folder: exit status not 1"
    echo "an earlier data file" | cmp -s - out.txt || fail "a failed key file: the earlier data file was changed"
    [ "$(ls)" = "$(printf 'out.txt\nstderr.txt')" ] || fail "a failed key file left: $(ls | tr '\n' ' ')"
    ;;
estimate)
    # Over seeds 101-200 of this design corvane's mY1 had mean 0.300 and SD 0.039:
    # 0.15 is four SDs, while a mix read backwards would give 0.7.
    "$simulate" --mix 0.3,0.7 --split 1 --admixture-time 0.2 --theta 4 --copies 20 --loci 100 --seed 2026 \
        -o data.txt 2>/dev/null || fail "corvane-simulate exit status $?"
    printf 'data.txt\ny\nn\nx\n' | "$corvane" > /dev/null
    status=$?
    [ "$status" -eq 1 ] || fail "corvane ended with status $status, not 1 (a complete run)"
    awk '/mY1 =/ { d = $NF - 0.3 } /mY2 =/ { e = $NF - 0.7 }
         END { exit !(d * d <= 0.0225 && e * e <= 0.0225) }' result_admix.txt \
        || fail "estimates farther than 0.15 from 0.3 and 0.7: $(grep -o 'mY. = .*' result_admix.txt | tr '\n' ' ')"
    ;;
refusals)
    hint="Run 'corvane-simulate --help' for the options and the model."
    while IFS='|' read -r arguments status message; do
        # shellcheck disable=SC2086
        "$simulate" $arguments -o out.txt 2> stderr.txt
        actual=$?
        [ "$actual" -eq "$status" ] || fail "$arguments: exit status $actual, not $status"
        head -n 1 stderr.txt | grep -q -E -x -- "$message" || fail "$arguments: $(head -n 1 stderr.txt)"
        [ "$status" -ne 2 ] || sed -n 2p stderr.txt | grep -q -F -x -- "$hint" || fail "$arguments: no hint"
        [ ! -e out.txt ] || fail "$arguments: a data file was written"
    done <<'CASES'
--mix 0.3,0.6|2|corvane-simulate: error: --mix 0.3,0.6: the proportions sum to 0.9, not to 1
--parents 3 --mix 0.5,0.5|2|corvane-simulate: error: --parents 3: --mix gives 2 proportions
--copies 5,1,3|2|corvane-simulate: error: --copies 5,1,3: parental population 1 needs at least 2 copies, found 1
--admixture-time 2|2|corvane-simulate: error: --admixture-time 2: the admixture time lies between 0 and the split time, 1
--seed -1|2|corvane-simulate: error: --seed: expected a whole number from 0 to 18446744073709551615, found "-1"
--theta 4e5 --split 2|2|corvane-simulate: error: --theta 4e5: theta \(1 \+ tau\), the expected distance between copies of two parental populations, is 1.2e\+06; at most 1e\+06 differing sites are simulated
--parents 500001|2|corvane-simulate: error: --parents 500001: each parental population needs 2 copies, and a locus holds at most 1000000
--copies 400000|2|corvane-simulate: error: --copies 400000: a locus holds at most 1000000 copies in all
--parents 100 --loci 2147483647|1|corvane-simulate: error: 2147483647 loci of 101 populations need at least [0-9.e+]+ MB of memory, more than this machine's [0-9.e+]+ MB: choose fewer --loci or --copies
--tree ((A:0.5,B:0.5):0.5,C:0.9); --admixture A:1|2|corvane-simulate: error: --tree "\(\(A:0.5,B:0.5\):0.5,C:0.9\);": the tree is not ultrametric: A lies 1 below the root, C 0.9; the leaves' depths may differ by at most 1e-06 of the largest
--tree ((A:0.5,B:0.5):0.5,C:1) --admixture A:1|2|corvane-simulate: error: --tree "\(\(A:0.5,B:0.5\):0.5,C:1\)": at character 24: expected ';' after the root, found the end of the tree
--tree (A:1,B:1); --admixture A:0.5,C:0.5|2|corvane-simulate: error: --admixture A:0.5,C:0.5: the tree has no population "C"; it has A, B
--tree ((A:0.5,B:0.5):0.5,C:1); --admixture A:0.5,C:0.5 --admixture-time 0.6|2|corvane-simulate: error: --admixture-time 0.6: the source A joins its ancestor 0.5 ago; the pulse comes at that time or more recently
--mutation steps|2|corvane-simulate: error: --mutation: expected sites or smm, found "steps"
--theta 5000 --copies 700 --loci 3|1|corvane-simulate: error: the simulated locus 1 of 3 holds [0-9]{4} distinct haplotypes, more than the 1000 a data file takes at one locus. No file was written; choose a smaller --theta or fewer --copies.
CASES
    # --help names each option's value as the model's description does.
    help=$("$simulate" --help)
    for option in "--parents P" "--mix m1,m2,..." "--split tau" "--admixture-time t" "--theta theta" "--copies n" \
                  "--loci L" "--seed S" "--tree NEWICK" "--admixture A:m,C:m,..." "--hybrid H" "--mutation sites|smm" \
                  "-o FILE" "--key FILE"; do
        grep -q -F -- "  $option " <<< "$help" || fail "--help does not show $option"
    done
    ;;
*)
    fail "unknown check $3"
    ;;
esac
[ "$failures" -eq 0 ]
