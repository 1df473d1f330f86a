#!/usr/bin/env python3
"""The validation of corvane-scan: data sets simulated by corvane-simulate from
population trees with an admixture pulse, scanned, and the scan's verdicts
counted against the truth.

  scan_study.py --scan build/scan/corvane-scan --corvane build/corvane \
      --simulate build/simulate/corvane-simulate --out build/validate-scan \
      [--grid full|ci] [--jobs J] [--table FILE] [--check]

  calibration  the true model (sources A, C; references B, D, E): the share of
               data sets where p < 0.05, which should be near 5 % (target 2-8 %)
  power        a source left out (truth A 0.3, C 0.4, D 0.3; model A,C), with E
               D's sister (split 0.1) among the references and D 1 from A and C:
               the share rejected at p < 0.05, against the number of loci
               (target >= 80 % at 100 loci)
  ranking      6 candidates, 2 true sources (A 0.4, E 0.6): the share of data
               sets where A,E is the first feasible model of the table
               (target >= 70 % at 100 loci)
  identity     every model of a 6-candidate file, distances as sites and as
               stepwise repeats: mY and the locus bootstrap's mean, SD and
               quantiles against corvane on the data file cut to the model's
               populations, to the last bit

theta = 4, 20 copies per population, the admixture 0.05 ago (units of 2N
generations). Every data set has its own fixed seed, so the study gives the same
figures on every run. Writes OUT/scan_datasets.csv and the table in markdown
(--table FILE, default OUT/scan_table.md); with --check the exit status is 1
when a target is missed. Standard library only.
"""
import argparse
import concurrent.futures
import csv
import json
import os
import subprocess
import sys
import tempfile

THETA = 4
COPIES = 20
ADMIXTURE_TIME = 0.05
TREES = {
    # A and C are the sources; B, D and E references, two of them far from both.
    "calibration": ("((A:0.5,B:0.5):0.5,((C:0.3,D:0.3):0.4,E:0.7):0.3);", "A:0.3,C:0.7", "A,C"),
    # D's lineage meets A's and C's at 1; E is D's sister (0.1), F an outgroup.
    "power": ("(((A:0.6,C:0.6):0.4,(D:0.1,E:0.1):0.9):0.5,F:1.5);", "A:0.3,C:0.4,D:0.3", "A,C"),
    # 6 candidates, 2 true sources.
    "ranking": ("(((A:0.4,B:0.4):0.3,(C:0.5,D:0.5):0.2):0.3,(E:0.8,F:0.8):0.2);", "A:0.4,E:0.6", "A,E"),
}
GRIDS = {
    # (study, loci, data sets)
    "full": [("calibration", 30, 200), ("calibration", 100, 200)] +
            [("power", loci, 200) for loci in (10, 20, 30, 50, 100)] + [("ranking", 100, 200)],
    "ci": [("calibration", 30, 100), ("power", 100, 60), ("ranking", 100, 60)],
}
TARGETS = {"calibration": (0.02, 0.08), "power": (0.80, 1.0), "ranking": (0.70, 1.0)}


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


def read_table(text):
    lines = text.strip().split("\n")
    header = lines[0].split("\t")
    return [dict(zip(header, line.split("\t"))) for line in lines[1:]]


def one_data_set(args, study, loci, index):
    tree, admixture, model = TREES[study]
    seed = {"calibration": 100000, "power": 200000, "ranking": 300000}[study] + 1000 * loci + index
    with tempfile.TemporaryDirectory() as folder:
        data = os.path.join(folder, "data.txt")
        simulated = run([args.simulate, "--tree", tree, "--admixture", admixture, "--hybrid", "H",
                         "--admixture-time", str(ADMIXTURE_TIME), "--theta", str(THETA), "--copies", str(COPIES),
                         "--loci", str(loci), "--seed", str(seed), "-o", data])
        if simulated.returncode != 0:
            sys.exit("corvane-simulate failed: " + simulated.stderr)
        choice = ["--sources", "2"] if study == "ranking" else ["--model", model]
        scanned = run([args.scan, "-q", "-o", os.path.join(folder, "out")] + choice + [data])
        if scanned.returncode != 0:
            sys.exit("corvane-scan failed: " + scanned.stderr)
    rows = read_table(scanned.stdout)
    if study == "ranking":
        top = next((row for row in rows if row["feasible"] == "yes"), None)
        return {"study": study, "loci": loci, "seed": seed, "p": "", "hit": int(top is not None and
                                                                              top["sources"] == model)}
    p = rows[0]["p"]
    hit = int(p != "NA" and float(p) < 0.05)
    return {"study": study, "loci": loci, "seed": seed, "p": p, "hit": hit}


def identity(args, mutation):
    """Every model of a 6-candidate file against corvane on the cut data files;
    the number of models compared."""
    cut = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "scan", "cut_data_file.py")
    tree = TREES["ranking"][0]
    with tempfile.TemporaryDirectory() as folder:
        data = os.path.join(folder, "six.txt")
        run([args.simulate, "--tree", tree, "--admixture", "A:0.4,E:0.6", "--hybrid", "H", "--mutation", mutation,
             "--admixture-time", "0.05", "--theta", "2", "--copies", "10", "--loci", "12", "--seed", "5",
             "-o", data], check=True)
        out = os.path.join(folder, "scan")
        run([args.scan, "-q", "--sources", "2-6", "-b", "20", "-s", "9", "-o", out, data], check=True)
        models = json.load(open(os.path.join(out, "run_record.json")))["models"]
        names = run(["head", "-n", "40", data.replace(".txt", ".haplotypes.tsv")]).stdout
        header = next(line for line in names.split("\n") if line.startswith("locus\t")).split("\t")[3:]
        compared = 0
        for model in models:
            columns = ",".join(str(header.index(name)) for name in model["sources"])
            cut_file = os.path.join(folder, "cut.txt")
            run([sys.executable, cut, data, cut_file, columns], check=True)
            result = run([args.corvane, "-q", "-b", "20", "-s", "9", "--resample", "loci", "-o",
                          os.path.join(folder, "cut"), cut_file])
            if model["refused"] or model["boot_mean"] is None:
                # refused, or a bootstrap replicate refused: corvane stops too
                if result.returncode != 1:
                    print("identity: %s: corvane ran where the scan refused" % model["sources"])
                    return -1
                continue
            rows = json.load(open(os.path.join(folder, "cut", "run_record.json")))["results"]
            for k, row in enumerate(rows):
                theirs = (row["mY"], row["boot_mean"], row["boot_sd"], row["q2.5"], row["q97.5"])
                ours = (model["mY"][k], model["boot_mean"][k], model["boot_sd"][k], model["q2.5"][k],
                        model["q97.5"][k])
                if theirs != ours:
                    print("identity: %s differs: corvane %s, scan %s" % (model["sources"], theirs, ours))
                    return -1
            compared += 1
        return compared


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scan", required=True)
    parser.add_argument("--corvane", required=True)
    parser.add_argument("--simulate", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--grid", choices=sorted(GRIDS), default="full")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--table")
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)

    tasks = [(study, loci, i) for study, loci, count in GRIDS[args.grid] for i in range(count)]
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        results = list(pool.map(lambda task: one_data_set(args, *task), tasks))
    with open(os.path.join(args.out, "scan_datasets.csv"), "w", newline="") as out:
        writer = csv.DictWriter(out, fieldnames=["study", "loci", "seed", "p", "hit"])
        writer.writeheader()
        writer.writerows(results)

    lines = ["| study | loci | data sets | measured | target |", "| - | - | - | - | - |"]
    missed = []
    for study, loci, count in GRIDS[args.grid]:
        hits = [r["hit"] for r in results if r["study"] == study and r["loci"] == loci]
        share = sum(hits) / len(hits)
        low, high = TARGETS[study]
        measure = {"calibration": "p < 0.05 (true model)", "power": "p < 0.05 (source left out)",
                   "ranking": "true pair first"}[study]
        checked = study != "power" or loci == 100
        target = ("%g-%g %%" % (100 * low, 100 * high) if study == "calibration" else ">= %g %%" % (100 * low)) \
            if checked else "-"
        lines.append("| %s | %d | %d | %s: %.1f %% | %s |" % (study, loci, count, measure, 100 * share, target))
        if checked and not low <= share <= high:
            missed.append("%s at %d loci: %.1f %%" % (study, loci, 100 * share))
    for mutation in ("sites", "smm"):
        compared = identity(args, mutation)
        lines.append("| identity (%s) | 12 | 1 | models equal to corvane on the cut file: %s | all |"
                     % (mutation, "none (a model differs)" if compared < 0 else "all %d" % compared))
        if compared <= 0:
            missed.append("identity (%s)" % mutation)
    table = "\n".join(lines) + "\n"
    with open(args.table or os.path.join(args.out, "scan_table.md"), "w") as out:
        out.write(table)
    print(table, end="")
    if args.check and missed:
        print("missed: " + "; ".join(missed))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
