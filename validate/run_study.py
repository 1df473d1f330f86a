#!/usr/bin/env python3
"""The validation study: data sets simulated with known admixture proportions
by corvane-simulate, estimated by corvane with both bootstrap schemes, and
summarised per scenario as bias, RMSE and the coverage of the nominal 95 %
intervals.

  run_study.py --corvane build/corvane --simulate build/simulate/corvane-simulate \
      --out build/validate [--grid full|ci] [--datasets N] [--replicates B] [--jobs J] \
      [--table FILE] [--check]

Every data set has its own fixed seed (the simulator's and the bootstrap's), so
the study gives the same figures on every run. Writes OUT/datasets.csv (one row
per data set and parental population), OUT/summary.csv (one row per scenario)
and the table in markdown (--table FILE, default OUT/table.md). The data files
themselves live in a temporary folder and are deleted. With --check the exit
status is 1 when the locus bootstrap's coverage falls below the thresholds set
for the reduced grid (see CI_THRESHOLDS). Standard library only.
"""
import argparse
import concurrent.futures
import csv
import itertools
import math
import os
import subprocess
import sys
import tempfile

# The model's fixed parameters; the grid varies the rest.
THETA = 4
MIX = {2: (0.3, 0.7), 3: (0.5, 0.3, 0.2)}
GRIDS = {
    # parents, loci, copies per population, admixture time t, split time tau
    "full": list(itertools.product((2, 3), (5, 30), (20, 100), (0, 0.05), (0.5, 2))),
    # The 30-locus scenarios where resampling copies fails most (t = 0.05), two
    # parents: what CI runs.
    "ci": list(itertools.product((2,), (30,), (20, 100), (0.05,), (0.5, 2))),
}
# The reduced grid (its data sets are the full study's, 100 per scenario, 200
# replicates): the locus bootstrap's +-1.96 SD intervals held the truth in 93,
# 94, 95 and 95 % of cases when these were set (94 % pooled), resampling
# copies in 60 to 86 % (72 % pooled). A scenario below 85 % lies three binomial
# SDs (2.4 points at 94 % and 100 data sets) below the lowest measured, and a
# pooled share below 88 % four SDs below: a change that keeps the scheme sound
# stays clear of both, one that makes the locus bootstrap as overconfident as
# resampling copies fails the pooled threshold at least.
CI_THRESHOLDS = {"scenario": 0.85, "pooled": 0.88}
SCHEMES = ("copies", "loci")
Z95 = 1.959964


def scenario_name(s):
    parents, loci, copies, t, tau = s
    return "P=%d L=%d n=%d t=%g tau=%g" % (parents, loci, copies, t, tau)


def read_table(text):
    """corvane's results table: one dict per parental population."""
    lines = text.strip().split("\n")
    header = lines[0].split("\t")
    return [{name: cell if name == "population" else float(cell) for name, cell in zip(header, line.split("\t"))}
            for line in lines[1:]]


def run_dataset(args, scenario, dataset):
    """Simulates one data set and estimates it with both schemes: one row per
    parental population."""
    parents, loci, copies, t, tau = scenario
    # Seeds follow the scenario's place in the full grid, so that the reduced
    # grid repeats the full study's data sets.
    seed = 1_000_000 * (GRIDS["full"].index(scenario) + 1) + dataset
    with tempfile.TemporaryDirectory(prefix="corvane_study_") as work:
        data = os.path.join(work, "data.txt")
        subprocess.run([args.simulate, "--mix", ",".join(map(str, MIX[parents])), "--split", str(tau),
                        "--admixture-time", str(t), "--theta", str(THETA), "--copies", str(copies),
                        "--loci", str(loci), "--seed", str(seed), "-o", data],
                       check=True, capture_output=True)
        tables = {}
        for scheme in SCHEMES:
            done = subprocess.run([args.corvane, "-q", "-b", str(args.replicates), "-s", str(seed),
                                   "--resample", scheme, "-o", os.path.join(work, scheme), data],
                                  capture_output=True, text=True)
            if done.returncode != 0:
                raise RuntimeError("%s, data set %d (seed %d), %s: %s"
                                   % (scenario_name(scenario), dataset, seed, scheme, done.stderr.strip()))
            tables[scheme] = read_table(done.stdout)
    rows = []
    for p in range(parents):
        row = {"scenario": scenario_name(scenario), "parents": parents, "loci": loci, "copies": copies,
               "t": t, "tau": tau, "dataset": dataset, "seed": seed, "parent": p + 1,
               "truth": MIX[parents][p], "estimate": tables["copies"][p]["mY"]}
        for scheme in SCHEMES:
            for column in ("boot_sd", "q2.5", "q97.5"):
                row[scheme + "_" + column] = tables[scheme][p][column]
        rows.append(row)
    return rows


def held(row, scheme, kind):
    """Whether a data set's interval of one scheme holds the true proportion:
    kind "sd" is estimate +- 1.96 SD, kind "q" the 2.5 % to 97.5 % quantiles."""
    if kind == "sd":
        half = Z95 * row[scheme + "_boot_sd"]
        return abs(row["estimate"] - row["truth"]) <= half
    return row[scheme + "_q2.5"] <= row["truth"] <= row[scheme + "_q97.5"]


def mean(values):
    return sum(values) / len(values)


def summarise(rows):
    """Per scenario: bias, RMSE and spread of mY1, and per scheme the ratio of
    the mean bootstrap SD to the estimates' actual SD and the coverage of both
    intervals over every parental population's interval."""
    summary = []
    for name in dict.fromkeys(row["scenario"] for row in rows):
        all_parents = [row for row in rows if row["scenario"] == name]
        first = [row for row in all_parents if row["parent"] == 1]
        errors = [row["estimate"] - row["truth"] for row in first]
        spread = math.sqrt(sum((e - mean(errors)) ** 2 for e in errors) / (len(errors) - 1))
        line = {key: first[0][key] for key in ("scenario", "parents", "loci", "copies", "t", "tau")}
        line.update({"datasets": len(first), "truth_mY1": first[0]["truth"], "bias_mY1": mean(errors),
                     "rmse_mY1": math.sqrt(mean([e * e for e in errors])), "sd_mY1": spread})
        for scheme in SCHEMES:
            line[scheme + "_sd_ratio"] = mean([row[scheme + "_boot_sd"] for row in first]) / spread
            for kind in ("sd", "q"):
                line["%s_cover_%s" % (scheme, kind)] = mean([held(row, scheme, kind) for row in all_parents])
        summary.append(line)
    return summary


def percent(value):
    return "%.0f" % (100 * value)


def markdown_table(summary, datasets, replicates):
    lines = [
        "Each scenario: %d data sets, %d bootstrap replicates per scheme; θ = %g; true proportions"
        " 0.3, 0.7 (two parents) or 0.5, 0.3, 0.2 (three). Bias, RMSE and SD of mY1; SD ratio: mean"
        " bootstrap SD over the SD of mY1 across data sets; coverage (%%): share of the parental"
        " populations' intervals, all data sets, that hold the true proportion, ±: estimate ± 1.96 SD,"
        " q: 2.5 %% to 97.5 %% quantiles." % (datasets, replicates, THETA),
        "",
        "| P | L | n | t | τ | bias | RMSE | SD | copies: SD ratio | ± | q | loci: SD ratio | ± | q |",
        "| - | - | - | - | - | - | - | - | - | - | - | - | - | - |",
    ]
    for s in summary:
        lines.append("| %d | %d | %d | %g | %g | %+.3f | %.3f | %.3f | %.2f | %s | %s | %.2f | %s | %s |" % (
            s["parents"], s["loci"], s["copies"], s["t"], s["tau"], s["bias_mY1"], s["rmse_mY1"], s["sd_mY1"],
            s["copies_sd_ratio"], percent(s["copies_cover_sd"]), percent(s["copies_cover_q"]),
            s["loci_sd_ratio"], percent(s["loci_cover_sd"]), percent(s["loci_cover_q"])))
    return "\n".join(lines) + "\n"


def write_csv(path, rows):
    with open(path, "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=list(rows[0]))
        writer.writeheader()
        writer.writerows(rows)


def coverage_problems(summary):
    """The reduced grid's thresholds on the locus bootstrap's +-1.96 SD coverage."""
    problems = ["%s: the locus bootstrap's intervals hold the truth in %s %% of cases, below %s %%"
                % (s["scenario"], percent(s["loci_cover_sd"]), percent(CI_THRESHOLDS["scenario"]))
                for s in summary if s["loci_cover_sd"] < CI_THRESHOLDS["scenario"]]
    pooled = mean([s["loci_cover_sd"] for s in summary])
    if pooled < CI_THRESHOLDS["pooled"]:
        problems.append("pooled over the scenarios the locus bootstrap's intervals hold the truth in %s %% of "
                        "cases, below %s %%" % (percent(pooled), percent(CI_THRESHOLDS["pooled"])))
    return problems


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--corvane", required=True)
    ap.add_argument("--simulate", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--grid", choices=sorted(GRIDS), default="full")
    ap.add_argument("--datasets", type=int, default=100)
    ap.add_argument("--replicates", type=int, default=200)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--table")
    ap.add_argument("--check", action="store_true")
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    grid = GRIDS[args.grid]
    tasks = [(s, d) for s in grid for d in range(args.datasets)]
    print("%d scenarios, %d data sets each, %d replicates per scheme" % (len(grid), args.datasets,
                                                                        args.replicates), flush=True)
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        futures = [pool.submit(run_dataset, args, *task) for task in tasks]
        for done, future in enumerate(concurrent.futures.as_completed(futures), 1):
            future.result()
            if done % args.datasets == 0:
                print("%d of %d data sets estimated" % (done, len(tasks)), flush=True)
    rows = [row for future in futures for row in future.result()]
    summary = summarise(rows)
    write_csv(os.path.join(args.out, "datasets.csv"), rows)
    write_csv(os.path.join(args.out, "summary.csv"), summary)
    table = markdown_table(summary, args.datasets, args.replicates)
    with open(args.table or os.path.join(args.out, "table.md"), "w") as f:
        f.write(table)
    print(table, end="")
    if args.check:
        problems = coverage_problems(summary)
        for problem in problems:
            print("validation: " + problem, file=sys.stderr)
        if problems:
            return 1
        print("validation: the locus bootstrap's coverage is above %s %% in every scenario and %s %% pooled"
              % (percent(CI_THRESHOLDS["scenario"]), percent(CI_THRESHOLDS["pooled"])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
