#!/usr/bin/env bash
# The command line against the console dialogue: for each set of answers the
# program runs once at the console (answers piped in, in folder A) and once from
# the command line (options, files written to folder B with -o); the files left
# behind must be byte for byte the same (with --resample copies, the console's
# bootstrap), and the exit statuses must map 1 -> 0 (complete) and 0 -> 1 (error
# stop). Then the run record's fields, --time and --rate against an edited data
# file, the automatic resampling scheme, the plot, usage errors (status 2) and
# advice, and the refusal to write a record into a folder held by another run.
#
#   against_dialogue.sh PROGRAM
set -u
program=$(readlink -f "$1")
root=$(cd "$(dirname "$0")/../.." && pwd)
cases=$root/tests/e2e/cases
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# compare NAME DATA_FILE ANSWERS CONSOLE_STATUS -- OPTIONS...
compare() {
    local name=$1 data=$2 answers=$3 console_status=$4
    shift 5
    local a=$work/$name/console b=$work/$name/command_line
    mkdir -p "$a" "$work/$name/data"
    cp "$data" "$a/" && cp "$data" "$work/$name/data/"
    (cd "$a" && printf "$answers" | "$program" > /dev/null 2>&1; echo $? > "$work/$name/console_status")
    (cd "$work/$name/data" && "$program" "$@" -q -o "$b" "$(basename "$data")" > "$work/$name/table" \
        2> "$work/$name/stderr"; echo $? > "$work/$name/command_line_status")
    [ "$(cat "$work/$name/console_status")" = "$console_status" ] ||
        fail "$name: the console run ended with $(cat "$work/$name/console_status")"
    local expected_status=$((1 - console_status))
    [ "$(cat "$work/$name/command_line_status")" = "$expected_status" ] ||
        fail "$name: the command line ended with $(cat "$work/$name/command_line_status"), not $expected_status"
    for file in log_file_admix.txt result_admix.txt bootstrap.txt; do
        if [ -e "$a/$file" ] || [ -e "$b/$file" ]; then
            cmp -s "$a/$file" "$b/$file" || fail "$name: $file differs between the console and the command line"
        fi
    done
    [ -e "$b/run_record.json" ] || fail "$name: no run record"
}

compare kept_distances "$root/examples/example.txt" 'example.txt\ny\nn\nx\n' 1 -- 
compare replaced_distances_bootstrap "$root/examples/four_loci_three_parents.txt" \
    'four_loci_three_parents.txt\nn\ny\n25\n0x10\nq\n' 1 -- -n -b 25 -s 0x10 --resample copies
compare negative_seed "$cases/bootstrap_three_replicates_worked_by_hand/given/two_loci.txt" \
    'two_loci.txt\ny\ny\n12\n-1\nq\n' 1 -- -b 12 -s -1 --resample copies
compare identical_parents "$cases/identical_parents_stop_keeps_an_earlier_report/given/identical.txt" \
    'identical.txt\ny\nn\nx\n' 0 -- 
compare bootstrap_impossible "$cases/bootstrap_impossible_sample_size_above_counts/given/size_above_counts.txt" \
    'size_above_counts.txt\ny\ny\n3\nq\n' 1 -- -b 3 --resample copies

# A bootstrap that cannot be run keeps the table's columns, filled with NA.
grep -q -P '^1\tparent1\t\S+\tNA\tNA\tNA\tNA$' "$work/bootstrap_impossible/table" ||
    fail "bootstrap_impossible: the table does not show NA in the bootstrap columns"

# The run record: what produced the files.
record_check() {  # RECORD DATA_FILE PYTHON_CONDITION...
    python3 - "$@" <<'PY' || fail "run record $1: $(cat "$work/record_problem" 2>/dev/null)"
import hashlib, json, os, sys, subprocess
record = json.load(open(sys.argv[1]))
data = sys.argv[2]
checksum = subprocess.run(["sha256sum", data], capture_output=True, text=True).stdout.split()[0]
problems = []
if record["data_file"]["sha256"] != checksum:
    problems.append("sha256 %s, sha256sum %s" % (record["data_file"]["sha256"], checksum))
if record["data_file"]["size"] != os.path.getsize(data):
    problems.append("size")
for condition in sys.argv[3:]:
    if not eval(condition):
        problems.append(condition)
for key in ("version", "commit", "command_line", "started", "duration_seconds", "answers", "results"):
    if key not in record:
        problems.append("no " + key)
if problems:
    print("; ".join(problems))
    sys.exit(1)
PY
}
record_check "$work/replaced_distances_bootstrap/command_line/run_record.json" \
    "$work/replaced_distances_bootstrap/data/four_loci_three_parents.txt" \
    'record["exit_status"] == 0' 'record["error"] is None' \
    'record["answers"] == {"divergence": False, "replicates": 25, "seed": 16, "resample": "copies", "time": None, "rate": None}' \
    'len(record["results"]) == 3 and record["bootstrap"]["replicates"] == 25' \
    'record["command_line"][1:] == ["-n", "-b", "25", "-s", "0x10", "--resample", "copies", "-q", "-o", sys.argv[1].rsplit("/", 1)[0], "four_loci_three_parents.txt"]'
record_check "$work/identical_parents/command_line/run_record.json" \
    "$work/identical_parents/data/identical.txt" \
    'record["exit_status"] == 1' 'record["error"].startswith("Error: 2 parental populations with mean coal.times = 0")' \
    'record["results"] == []'

# The locus bootstrap names its scheme in the record, with every warning shown
# and the count of replicates outside [0, 1], counted here from bootstrap.tsv.
# Its data file starts with a byte-order mark, which the checksum includes.
mkdir -p "$work/loci" && cp "$cases/data_file_with_a_byte_order_mark/given/example.txt" "$work/loci/" || exit 1
(cd "$work/loci" && "$program" --resample loci -b 3 --threads 2 -q -o out example.txt > /dev/null 2> stderr)
record_check "$work/loci/out/run_record.json" "$work/loci/example.txt" \
    'record["answers"] == {"divergence": True, "replicates": 3, "seed": 1, "resample": "loci", "time": None, "rate": None}' \
    'record["bootstrap"]["resampling"] == "loci"' \
    'record["bootstrap"]["threads"] == 2 and record["log"] == "full"' \
    'record["warnings"] == open(sys.argv[1].rsplit("/", 2)[0] + "/stderr").read().splitlines()' \
    'any(w.startswith("Warning: mY1 = 1.81718") for w in record["warnings"])' \
    'record["bootstrap"]["replicates_outside_0_1"] == sum(any(not 0 <= float(v) <= 1 for v in line.split("\t")[1:]) for line in open(sys.argv[1].rsplit("/", 1)[0] + "/bootstrap.tsv").readlines()[1:])'

# --time and --rate give the files of the console run on a data file whose first
# line holds them; the record notes both values.
mkdir -p "$work/time/console" && cd "$work/time" && cp "$root/examples/example.txt" . || exit 1
sed '1s/.*/120 0.0025/' example.txt > console/example.txt
(cd console && printf 'example.txt\ny\nn\nx\n' | "$program" > /dev/null 2>&1)
"$program" --time 120 --rate 0.0025 -q -o options example.txt > /dev/null 2>&1
for file in log_file_admix.txt result_admix.txt; do
    cmp -s console/$file options/$file || fail "--time/--rate: $file differs from the console run on the edited file"
done
record_check "$work/time/options/run_record.json" "$work/time/example.txt" \
    'record["time_since_admixture"] == {"data_file": 50, "option": 120, "used": 120}' \
    'record["mutation_rate"] == {"data_file": 0.0001, "option": 0.0025, "used": 0.0025}'

# --resample auto: 20 loci or more resample loci (the files of --resample loci),
# and say so; names from --key in the record and on the plot, which is valid SVG
# that renders.
mkdir -p "$work/auto" && cd "$work/auto" || exit 1
python3 - "$root/examples/example.txt" > twenty.txt <<'PY'
import sys
lines = open(sys.argv[1]).read().split("\n")
distance, counts = lines[2:6], lines[6:11]  # one locus: label and haplotypes, triangle; label, sizes, counts
print(lines[0]); print("2 20")
for _ in range(20): print("\n".join(distance))
for _ in range(20): print("\n".join(counts))
PY
printf 'locus\tindex\thaplotype\tMixed & <co>\tHill\tVale\n' > names.tsv
"$program" -b 4 -q --plot --key names.tsv -o auto twenty.txt > table 2> stderr
"$program" -b 4 -q --resample loci -o loci twenty.txt > /dev/null 2>&1
for file in log_file_admix.txt result_admix.txt bootstrap.txt; do
    cmp -s auto/$file loci/$file || fail "--resample auto on 20 loci: $file differs from --resample loci"
done
grep -q -x 'bootstrap: resampling loci (--resample auto: 20 loci, 20 or more)' stderr ||
    fail "--resample auto: the choice is not stated"
grep -q -P '^2\tVale\t' table || fail "--key: the table does not name the second parent"
record_check "$work/auto/auto/run_record.json" "$work/auto/twenty.txt" \
    'record["bootstrap"]["resampling"] == "loci"' \
    'record["populations"] == {"key_file": "names.tsv", "hybrid": "Mixed & <co>", "parents": ["Hill", "Vale"]}'
xmllint --noout auto/bootstrap.svg || fail "--plot: bootstrap.svg is not valid XML"
grep -q 'Vale (mY2)' auto/bootstrap.svg || fail "--plot: no panel for the second parent"
rsvg-convert auto/bootstrap.svg -o plot.png && [ -s plot.png ] || fail "--plot: bootstrap.svg does not render"
"$program" -q --plot -o bars twenty.txt > /dev/null 2>&1
xmllint --noout bars/bootstrap.svg && grep -q '>parent2</text>' bars/bootstrap.svg ||
    fail "--plot without a bootstrap: no valid bar chart"

# Usage errors: status 2, the program's error line, a hint to --help, nothing written.
mkdir -p "$work/usage" && cd "$work/usage" || exit 1
: > a_file
for arguments in "--bogus data.txt" "-b" "-b 1e6 data.txt" "-s 99999999999 data.txt" "--resample sites data.txt" "" \
    "--time -1 data.txt" "--rate x data.txt" "-o a_file data.txt" "--key absent.tsv data.txt" \
    "--threads 0 data.txt" "--threads 257 data.txt" "--log brief data.txt"; do
    # shellcheck disable=SC2086
    "$program" $arguments --quiet > /dev/null 2> stderr
    status=$?
    [ "$status" = 2 ] || fail "usage \"$arguments --quiet\": status $status, not 2"
    grep -q -- '--help' stderr || fail "usage \"$arguments\": no hint to --help"
    head -n 1 stderr | grep -q '^corvane: error: ' || fail "usage \"$arguments\": $(head -n 1 stderr)"
done
for option in -b -s -o; do  # an empty value, as `-b "$N"` with N unset gives
    "$program" "$option" '' --quiet data.txt > /dev/null 2> stderr
    [ $? = 2 ] && grep -q -- '--help' stderr || fail "usage \"$option ''\": not a usage error"
done
[ -z "$(ls -A | grep -v -e '^stderr$' -e '^a_file$')" ] || fail "usage errors wrote files: $(ls -A)"
"$program" --bootstrp 3 data.txt 2> stderr
grep -q 'did you mean --bootstrap?' stderr || fail "a mistyped option: no suggestion"
"$program" --help | grep -q -e '--resample auto|loci|copies  *what' || fail "help: --resample not shown plainly"
"$program" --help | grep -q '{' && fail "help: CLI11's list of values is shown"

# Advice: another format names corvane-prepare's option; a folder that cannot be
# written is named with the system's reason and stops with status 1; --seed
# and --resample without -b are warned about, each on its line.
printf 'Cattle\nINRA063\nPop\nBorgou_1 , 0176 0180\n' > cattle.gen
printf '>s1\nACGT\n' > locus.fa
printf '##fileformat=VCFv4.2\n' > calls.vcf
printf '[Profile]\n  Title="mtDNA"\n' > project.arp
for pair in cattle.gen:genepop locus.fa:fasta calls.vcf:vcf project.arp:arlequin; do
    "$program" -q "${pair%%:*}" 2> stderr
    [ $? = 1 ] && grep -q "not a corvane data file; convert it first with corvane-prepare --${pair#*:} " stderr ||
        fail "${pair%%:*}: no advice naming --${pair#*:}"
done
"$program" -q -o /sys "$root/examples/example.txt" 2> stderr
[ $? = 1 ] && grep -q '^corvane: error: the output folder "/sys" cannot be written: ' stderr ||
    fail "an unwritable folder: $(cat stderr)"
"$program" -q -s 5 --resample loci -o seeded "$root/examples/example.txt" > /dev/null 2> stderr
grep -q 'Warning: --seed is used by a bootstrap only' stderr || fail "--seed without -b: no warning"
grep -q 'Warning: --resample is used by a bootstrap only' stderr || fail "a second warning line was lost"

# A results table, help or version line that cannot be written is an error.
mkdir -p "$work/lost" && cd "$work/lost" && cp "$root/examples/example.txt" . || exit 1
for arguments in "-q example.txt" "--help" "--version"; do
    # shellcheck disable=SC2086
    { "$program" $arguments > /dev/full 2> full_stderr; echo $? > full_status; } 2> /dev/null
    { "$program" $arguments >&- 2> closed_stderr; echo $? > closed_status; } 2> /dev/null
    for way in full closed; do
        [ "$(cat ${way}_status)" = 1 ] && grep -q "^corvane: error: .* could not be written to standard output" ${way}_stderr ||
            fail "$arguments with standard output $way: status $(cat ${way}_status)"
    done
done
grep -q '"exit_status": 1' run_record.json || fail "a lost table: the record does not say status 1"
! grep -q '^parent' log_file_admix.txt || fail "a closed standard output: the table went into the log"

# Temporary names never write through what lies beside the record: a data file
# of that name, a link to a file outside the folder.
mkdir -p "$work/beside/out" && cd "$work/beside" && cp "$root/examples/example.txt" . || exit 1
cp example.txt run_record.json.partial && echo "outside" > outside.txt
ln -s ../outside.txt out/run_record.json.partial
"$program" -q run_record.json.partial > /dev/null 2>&1
"$program" -q -o out example.txt > /dev/null 2>&1
cmp -s example.txt run_record.json.partial || fail "a data file named run_record.json.partial was overwritten"
[ "$(cat outside.txt)" = outside ] && [ -L out/run_record.json.partial ] || fail "a link beside the record was written through"

# Names that are not UTF-8 (stray bytes, an overlong form): a missing data file
# is an ordinary error stop, and the record shows the stray bytes as the messages do.
mkdir -p "$work/"$'\xfe' && cd "$work/"$'\xfe' || exit 1
"$program" -q -o $'\xf0\x8f\xbf\xbf' $'\xff.txt' > /dev/null 2> stderr
[ $? = 1 ] && grep -q 'cannot open the data file "\\xFF.txt"' stderr || fail "a name not UTF-8: not an error stop"
python3 -c 'import json, sys; r = json.load(open(sys.argv[1])); sys.exit(not (
    r["data_file"] == {"path": "\\xFF.txt", "size": None, "sha256": None} and r["exit_status"] == 1 and
    r["command_line"][-1] == "\\xFF.txt" and r["working_folder"].endswith("/\\xFE") and
    r["output_folder"].endswith("/\\xF0\\x8F\\xBF\\xBF")))' $'\xf0\x8f\xbf\xbf'/run_record.json || fail "a name not UTF-8: the record"

# An interrupted run: the record says "running" from the start, in place of an
# earlier run's; it ends with 130 (SIGINT) or 143 (SIGTERM) through the error
# stop, and keeps the checksum of the bytes it read, not of the file changed since.
# With CORVANE_EMULATOR_BREAKS_SIGNALS=1 (qemu-i386: cmake/toolchain-i386.cmake)
# the check is not run: qemu-i386's return from a signal handler corrupts the x87
# registers of the computation it interrupted and gives the thread the thread
# pointer of the thread created last, so that an emulated run cannot take a signal.
signals="INT TERM"
if [ "${CORVANE_EMULATOR_BREAKS_SIGNALS:-0}" = 1 ]; then
    echo "SKIP: interrupted runs (qemu-i386 cannot return from a signal handler intact)"
    signals=""
fi
for signal in $signals; do
    mkdir -p "$work/$signal" && cd "$work/$signal" && cp "$root/examples/example.txt" . || exit 1
    echo '{"earlier": true}' > run_record.json
    read_bytes=$(sha256sum < example.txt | cut -d' ' -f1)
    before=$(date -u +%Y-%m-%dT%H:%M:%SZ)
    env --default-signal=INT "$program" -b 40000 example.txt > /dev/null 2> progress &  # a script's & ignores it
    run=$!
    until grep -q "replicates done" progress || ! kill -0 $run 2> /dev/null; do sleep 0.01; done
    kill -STOP $run
    stopped=$(date -u +%Y-%m-%dT%H:%M:%SZ) && cp run_record.json running.json
    echo "0 0" >> example.txt
    kill -CONT $run && kill -$signal $run
    wait $run
    echo $? > status
    python3 - "$before" "$stopped" "$read_bytes" "$(cat status)" "$signal" <<'PY' || fail "SIG$signal: $(cat status)"
import json, os, sys
before, stopped, read_bytes, status, signal = sys.argv[1:]
running, ended = json.load(open("running.json")), json.load(open("run_record.json"))
code = {"INT": 130, "TERM": 143}[signal]
assert running.get("state") == "running" and running["exit_status"] is None, running
assert before <= running["started"] == ended["started"] <= stopped, (before, stopped, running, ended)
assert ended["state"] == "interrupted" and ended["exit_status"] == code == int(status), (status, ended.get("error"))
assert not os.path.exists("result_admix.txt")
assert ended["data_file"]["sha256"] == read_bytes and ended["data_file"]["size"] == 60, ended["data_file"]
message = "Error: the run was interrupted by SIG%s before its report was written" % signal
assert ended["error"] == message and open("log_file_admix.txt").read().endswith("-----\n" + message + "\n")
assert open("progress").read().endswith(message + "\n") and open("bootstrap.txt").read().endswith("\t\n")
PY
done

# A folder held by another run: status 1, and its record is not touched.
mkdir -p "$work/held" && cd "$work/held" && cp "$root/examples/example.txt" . || exit 1
echo '{"earlier": true}' > run_record.json
: > log_file_admix.txt
flock log_file_admix.txt sleep 30 &
holder=$!
while flock -n log_file_admix.txt true; do sleep 0.05; done  # until the holder has it
"$program" -q example.txt > /dev/null 2> held_stderr
echo $? > held_status
kill "$holder" 2> /dev/null
wait "$holder" 2> /dev/null
[ "$(cat held_status 2>/dev/null)" = 1 ] || fail "a held folder: status $(cat held_status 2>/dev/null), not 1"
grep -q "another run is writing its files" held_stderr || fail "a held folder: no message naming the other run"
[ "$(cat run_record.json)" = '{"earlier": true}' ] || fail "a held folder: the other run's record was overwritten"

if [ "$failures" -gt 0 ]; then
    exit 1
fi
echo "the command line matches the console dialogue"
