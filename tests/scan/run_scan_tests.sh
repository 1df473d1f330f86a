#!/usr/bin/env bash
# Whole runs of corvane-scan in a temporary folder.
#   hand_worked_table  the table of a 3-locus file, worked out in exact arithmetic by
#                      tests/tools/exact_scan.py (expected.tsv), on standard output and in
#                      scan.tsv, the same with 3 threads; scan.svg valid XML; the record
#   refusals           usage and run errors: message, exit status, nothing overwritten
#   interrupted        SIGINT and SIGTERM during the models: the record says "running" (the
#                      earlier run's table removed) and then "interrupted", status 130 or 143
#   identity           every model of a 6-candidate file against corvane on the data file
#                      cut to its populations: mY, and the locus bootstrap's mean, SD and
#                      quantiles, to the last bit (the records' shortest decimals)
# usage: run_scan_tests.sh MODE CORVANE_SCAN CORVANE CORVANE_SIMULATE
set -u
mode=$1 scan=$2 corvane=$3 simulate=$4
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect_run STATUS EXPECTED_STDERR_FIRST_LINE -- ARGS...
expect_run() {
    local status=$1 message=$2
    shift 3
    "$scan" "$@" > "$work/out.txt" 2> "$work/err.txt"
    local got=$?
    [ "$got" -eq "$status" ] || fail "corvane-scan $*: exit $got, expected $status ($(cat "$work/err.txt"))"
    [ "$(head -n 1 "$work/err.txt")" = "$message" ] ||
        fail "corvane-scan $*: stderr '$(head -n 1 "$work/err.txt")', expected '$message'"
}

case $mode in
hand_worked_table)
    cp "$here/cases/three_loci_by_hand/data.txt" "$work/data.txt"
    cd "$work" || exit 1
    "$scan" -q --sources 1-3 -o one data.txt > one.stdout || fail "exit status $?"
    "$scan" -q --sources 1-3 --threads 3 -o three data.txt > three.stdout || fail "exit status $? with 3 threads"
    cmp -s one.stdout "$here/cases/three_loci_by_hand/expected.tsv" || {
        fail "the table differs from the hand-worked one"; diff one.stdout "$here/cases/three_loci_by_hand/expected.tsv"; }
    cmp -s one/scan.tsv one.stdout || fail "scan.tsv differs from standard output"
    cmp -s three.stdout one.stdout && cmp -s three/scan.tsv one/scan.tsv && cmp -s three/scan.svg one/scan.svg ||
        fail "3 threads give other output than 1"
    xmllint --noout one/scan.svg || fail "scan.svg is not well-formed XML"
    python3 - one/run_record.json "$(sha256sum data.txt | cut -d' ' -f1)" <<'PY' || fail "run record"
import json, sys
record = json.load(open(sys.argv[1]))
assert record["program"] == "corvane-scan" and record["exit_status"] == 0, record
assert record["data_file"]["sha256"] == sys.argv[2], record["data_file"]
assert [m["sources"] for m in record["models"]][0] == ["1", "2"], record["models"][0]
assert record["models"][-1]["no_Q_because"] == "no reference is left to test the fit", record["models"][-1]
PY
    ;;
refusals)
    cp "$here/cases/three_loci_by_hand/data.txt" "$work/data.txt"
    cd "$work" || exit 1
    expect_run 2 "corvane-scan: error: --sources needs a whole number from 1 to 2147483647, not \"0\"" -- --sources 0 data.txt
    expect_run 2 "corvane-scan: error: --model names \"north\", which the data file does not hold; the candidates are 1, 2, 3" -- --model 1,north data.txt
    expect_run 2 "corvane-scan: error: --sources asks for models of 4 sources, but there are 3 candidates" -- --sources 4 data.txt
    expect_run 2 "corvane-scan: error: --model gives one model; --sources would choose others: give one of the two" -- --model 1,2 --sources 2 data.txt
    expect_run 2 "corvane-scan: error: --resample \"copies\": the scan's bootstrap draws loci only (--resample loci); draws of copies would need every locus's pair sums anew for each replicate" -- -b 10 --resample copies data.txt
    expect_run 2 "corvane-scan: error: --bootstrap needs a whole number, not \"\"" -- -b '' data.txt
    expect_run 1 "corvane-scan: error: cannot open the data file \"absent.txt\": No such file or directory" -- absent.txt
    printf '0 0\n2 1\nL 2\n0\n1 0\nL\n3 1 2\n2 1 0\n1 0 2\n' > thin.txt
    expect_run 1 "corvane-scan: error: data file \"thin.txt\": at locus 0 the candidate \"1\" holds 1 copy; at least 2 needed to form its mean coalescence times" -- --sources 1 thin.txt
    printf 'locus\tindex\thaplotype\thyb\tnorth\n' > data.haplotypes.tsv
    expect_run 1 "corvane-scan: error: the key file \"data.haplotypes.tsv\" names 2 populations, but the data file holds 4 (the hybrid and 3 candidates)" -- data.txt
    rm data.haplotypes.tsv
    mkdir out && cp data.txt out/scan.tsv
    expect_run 1 "corvane-scan: error: the input \"out/scan.tsv\" is the file \"out/scan.tsv\" that the scan writes; give it another name or choose another output folder" -- -o out out/scan.tsv
    cmp -s out/scan.tsv data.txt || fail "the data file named scan.tsv was overwritten"
    "$scan" -q -o earlier data.txt > /dev/null || fail "a complete scan: exit status $?"
    expect_run 2 "corvane-scan: error: --sources asks for models of 4 sources, but there are 3 candidates" -- --sources 4 -o earlier data.txt
    [ ! -e earlier/scan.tsv ] && [ ! -e earlier/scan.svg ] || fail "an error stop left the earlier scan's table"
    python3 -c 'import json, sys; r = json.load(open("earlier/run_record.json")); sys.exit(not (
        r["state"] == "error stop" and r["exit_status"] == 2 and r["models"] == []))' || fail "the error stop's record"
    ;;
interrupted)
    cd "$work" || exit 1
    "$simulate" --parents 6 --mix 0.3,0.2,0.1,0.15,0.15,0.1 --split 1 --admixture-time 0.1 --theta 3 --copies 12 \
        --loci 15 --seed 11 -o six.txt 2> /dev/null || fail "corvane-simulate"
    for signal in INT TERM; do
        "$scan" -q --sources 2 -o "$signal" six.txt > /dev/null || fail "the earlier scan: exit status $?"
        # A script's & would ignore SIGINT: the scan gets the default action back.
        env --default-signal=INT "$scan" --sources 1-6 -b 50000 -s 7 --threads 1 -o "$signal" six.txt \
            > /dev/null 2> "$signal.progress" &
        run=$!
        until grep -q "models done" "$signal.progress" || ! kill -0 $run 2> /dev/null; do sleep 0.01; done
        kill -STOP $run
        cp "$signal/run_record.json" "$signal.running.json"
        kill -CONT $run && kill -$signal $run
        wait $run
        python3 - "$signal" $? <<'PY' || fail "SIG$signal"
import json, os, sys
signal, status = sys.argv[1], int(sys.argv[2])
running, ended = json.load(open(signal + ".running.json")), json.load(open(signal + "/run_record.json"))
assert running["state"] == "running" and running["exit_status"] is None, running
assert ended["state"] == "interrupted" and ended["exit_status"] == status == {"INT": 130, "TERM": 143}[signal], (ended, status)
message = "the scan was interrupted by SIG%s; no table written" % signal
assert ended["error"] == message and ended["models"] == [], ended
assert open(signal + ".progress").read().splitlines()[-1] == "corvane-scan: error: " + message
assert not os.path.exists(signal + "/scan.tsv") and not os.path.exists(signal + "/scan.svg")
PY
    done
    ;;
identity)
    cd "$work" || exit 1
    "$simulate" --parents 6 --mix 0.3,0.2,0.1,0.15,0.15,0.1 --split 1 --admixture-time 0.1 --theta 3 --copies 12 \
        --loci 15 --seed 11 -o six.txt 2> /dev/null || fail "corvane-simulate"
    "$scan" -q --sources 2-6 -b 20 -s 7 -o scan six.txt > /dev/null || fail "corvane-scan exit status $?"
    python3 - "$corvane" "$here/cut_data_file.py" scan/run_record.json <<'PY' || fail "identity with corvane"
import json, subprocess, sys
corvane, cut, record = sys.argv[1:4]
models = json.load(open(record))["models"]
assert len(models) == 57, len(models)
compared = 0
for model in models:
    subprocess.run([sys.executable, cut, "six.txt", "cut.txt", ",".join(model["sources"])], check=True)
    run = subprocess.run([corvane, "-q", "-b", "20", "-s", "7", "--resample", "loci", "-o", "cut", "cut.txt"],
                         capture_output=True, text=True)
    rows = json.load(open("cut/run_record.json"))["results"]
    if model["refused"] or model["boot_mean"] is None:
        # refused, or a bootstrap replicate refused: corvane stops too
        assert run.returncode == 1, (model, run.stderr)
        continue
    assert run.returncode == 0, (model["sources"], run.stderr)
    for k, row in enumerate(rows):
        theirs = (row["mY"], row["boot_mean"], row["boot_sd"], row["q2.5"], row["q97.5"])
        ours = (model["mY"][k], model["boot_mean"][k], model["boot_sd"][k], model["q2.5"][k], model["q97.5"][k])
        assert theirs == ours, (model["sources"], k, theirs, ours)
    compared += 1
assert compared > 40, compared
PY
    ;;
*)
    echo "unknown mode $mode"; exit 2 ;;
esac
[ "$failures" -eq 0 ] && echo "scan.$mode: passed" || { echo "scan.$mode: $failures failed"; exit 1; }
