#!/usr/bin/env python3
"""Exact-arithmetic reference for whole runs with bootstrap replicates.

Works out, independently of the program, the files a run leaves behind for a
small data file: the console output, "log_file_admix.txt", "result_admix.txt"
and "bootstrap.txt". Every value is carried as an exact fraction and rounded
explicitly where the program stores or evaluates it:

  * f32(x)  -- to a 24-bit significand (a stored single-precision value),
  * ext(x)  -- to a 64-bit significand (an x86 extended-precision result),
  * f64(x)  -- to a 53-bit significand (a double),

all to nearest, ties to even. The estimate of each replicate is the one of
exact_estimate.py (plain loops over every pair of populations and haplotypes,
zero weights included); the draws use the plain walk over the running totals.

  bootstrap_reference.py DATA_FILE --molecular y --replicates 3 --seed 2024 \
      --out DIR [--trace] [--table] [--resample copies|loci]

--trace prints every random number, the haplotype it selects and the
resampled counts, so that a case can be checked by hand line by line.

--resample loci draws, for each replicate, L loci with replacement (each drawn
evenly: generator outputs joined as L needs, a number beyond the largest
multiple of L drawn again, the rest modulo L) and estimates from the data set
made of those loci in the drawn order, recomputed from their counts.

--table prints the results table of the command line (parent, mY and, with
replicates, boot_mean, boot_sd and the 2.5 % and 97.5 % quantiles of the
replicate values, type 7 like R's default, interpolated in double precision).
"""
import argparse
import math
import os
import sys
from fractions import Fraction

# Rounding and whole numbers are shared with the reference of the plain estimate.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import exact_estimate as exact  # noqa: E402
from exact_estimate import round_bits  # noqa: E402

# ---------------------------------------------------------------------------
# Rounding


def f32(x):
    return round_bits(x, 24)


def ext(x):
    return round_bits(x, 64)


def f64(x):
    return round_bits(x, 53)


def ext_sqrt(x):
    x = Fraction(x)
    if x == 0:
        return Fraction(0)
    k = 256
    scaled = x * Fraction(2) ** (2 * k)
    floor_scaled = scaled.numerator // scaled.denominator
    s = math.isqrt(floor_scaled)
    if s * s == scaled:
        return ext(Fraction(s, 2 ** k))
    # sqrt(x) lies strictly inside (s, s+1) / 2^k: its midpoint rounds alike.
    return ext(Fraction(2 * s + 1, 2 ** (k + 1)))


def fmt(x):
    """A stored value in the streams' default notation (six significant digits)."""
    return "%g" % float(Fraction(x))


# ---------------------------------------------------------------------------
# The generator


class Generator:
    def __init__(self):
        self.state = 1

    def seed(self, value):
        self.state = value % 2 ** 32

    def next(self):
        self.state = (self.state * 22695477 + 1) % 2 ** 32
        return (self.state >> 16) & 32767


# ---------------------------------------------------------------------------
# The data file


def read_data(path):
    """The data file as the estimate reference reads it, laid out by locus."""
    T, mu, P, L, loci = exact.read_data(path)
    return {"T": T, "mu": mu, "P": P, "L": L,
            "n": [locus["n"] for locus in loci],
            "dist": [locus["d"] for locus in loci],
            "size": [locus["sizes"] for locus in loci],
            "freq": [locus["counts"] for locus in loci]}


# ---------------------------------------------------------------------------
# The estimate


def esum(terms):
    s = Fraction(0)
    for t in terms:
        s = ext(s + t)
    return s


def estimate(d, freq, log):
    """The estimation chain on one set of counts: the proportions, or "C" / "D"
    for the two ways a replicate can fail."""
    loci = [{"n": d["n"][l], "d": d["dist"][l]} for l in range(d["L"])]
    H, PP, times, ok = exact.coal_times(d["T"], d["P"], d["L"], loci, lambda l: freq[l])
    log.extend(times)
    if not ok:
        return "C"
    exact.add_time_to_admix_event(d["P"], PP, d["T"], d["mu"])
    M, v, equation_lines = exact.equations(d["P"], PP, H)
    log.extend(equation_lines)
    HS, PS = exact.precise_times(d["T"], d["mu"], d["P"], d["L"], loci, lambda l: freq[l])
    precise = exact.precise_solution(d["P"], PS, HS)
    x = exact.solve(d["P"], M, v)
    if x is None:
        return "D"
    accepted, disagreement, allowed = exact.digits_hold(x, precise)
    if not accepted:
        d["refusal"] = exact.refusal_line(disagreement, allowed)
        return "D"
    return x


# ---------------------------------------------------------------------------
# The bootstrap


def random_below(gen, n):
    """One generator output mod n up to 32767 copies; from 32768 on, the
    outputs of two (three above 2^30 copies) draws, first one highest, as one
    number mod n."""
    if n <= 32767:
        return gen.next() % n
    number = gen.next() * 32768 + gen.next()
    if n > 1 << 30:
        number = number * 32768 + gen.next()
    return number % n


def draw(gen, counts, n, trace):
    r = random_below(gen, n)
    numbers = [r]
    if r == 0 and counts[0] > 0:
        h = 0
    elif n == 1:
        # only 0 can be drawn: the one present haplotype
        h = next(h for h, c in enumerate(counts) if c > 0)
    else:
        while r == 0:
            r = random_below(gen, n)
            numbers.append(r)
        running = 0
        h = 0
        while True:
            running += counts[h]
            if running >= r:
                break
            h += 1
    trace.append((numbers, h))
    return h


def bootstrap_pops(d, gen, log, trace_lines):
    P, L = d["P"], d["L"]
    boot = [[[0] * d["n"][l] for _ in range(P + 1)] for l in range(L)]
    for l in range(L):
        for p in range(P + 1):
            n = d["size"][l][p]
            draws = []
            for _ in range(n):
                boot[l][p][draw(gen, d["freq"][l][p], n, draws)] += 1
            trace_lines.append("  locus %d population %d (n = %d, counts %s): %s -> %s" % (
                l, p, n, d["freq"][l][p],
                " ".join("%s:h%d" % ("/".join(str(r) for r in nums), h) for nums, h in draws),
                boot[l][p]))
    log.append("-----")
    log.append("Bootstrapped frequencies:")
    for l in range(L):
        log.append("Locus %d:" % l)
        for p in range(P + 1):
            log.append("Population %d: " % p + "".join("%d " % c for c in boot[l][p]))
    return boot


def even_random_below(gen, n):
    """A number from 0 to n - 1, every value equally likely: one output up to
    32768 (two up to 2^30, three beyond), first one highest; a number at or
    above the largest multiple of n below 2^(15 x outputs) is drawn again."""
    outputs = 1 if n <= 32768 else (2 if n <= 1 << 30 else 3)
    bound = 1 << (15 * outputs)
    while True:
        number = 0
        for _ in range(outputs):
            number = number * 32768 + gen.next()
        if number < bound - bound % n:
            return number % n


def bootstrap_loci(d, gen, log, trace_lines):
    drawn = [even_random_below(gen, d["L"]) for _ in range(d["L"])]
    trace_lines.append("  loci drawn: %s" % drawn)
    log.extend(["-----", "Bootstrapped loci:", "".join("%d " % l for l in drawn)])
    return dict(d, L=len(drawn), **{key: [d[key][l] for l in drawn] for key in ("n", "dist", "size", "freq")})


def mean_sd(rows, P):
    B = len(rows)
    if B == 1:
        return rows[0][:], [Fraction(0)] * P
    means = [f32(ext(esum(rows[b][p] for b in range(B)) / B)) for p in range(P)]
    sds = []
    for p in range(P):
        s = esum(ext(ext(rows[b][p] - means[p]) ** 2) for b in range(B))
        sds.append(f32(ext_sqrt(ext(s / (B - 1)))))
    return means, sds


# ---------------------------------------------------------------------------
# The run

BANNER = [
    "Program Corvane2_0, updated 08/02 by the Corvane2_0 developers",
    "",
    "The relative contributions from any number of parental populations ",
    "to a hybrid population are estimated by computing the estimators mY ",
    "first published for a hybrid population of two parental populations, ",
    "later generalised to any number of parental populations. ",
    "",
    "A short documentation about this program can be found ",
    "in the text file readme_Corvane2_0.txt ",
    "MAXNBALLELES = 1000 ",
]


def run(data_path, molecular, replicates, seed, resample="copies"):
    d = read_data(data_path)
    P, L = d["P"], d["L"]
    out = BANNER[:]
    out += ["", "", "Type the name of the data file !"]
    out += ["", "", "Take into account molecular divergence between alleles <y,n> !"]
    if molecular in "nN":
        for l in range(L):
            for j in range(d["n"][l]):
                for k in range(d["n"][l]):
                    d["dist"][l][j][k] = Fraction(0 if j == k else 1)
    log = ["-----", "Read from data file:"]
    for l in range(L):
        log.append("Locus %d:" % l)
        for p in range(P + 1):
            log.append("Population %d: " % p + "".join("%d " % c for c in d["freq"][l][p]))
        log.append("Distance matrix between haplotypes:")
        for j in range(d["n"][l]):
            log.append("".join(fmt(d["dist"][l][j][k]) + " " for k in range(j + 1)))
    x = estimate(d, d["freq"], log)
    assert isinstance(x, list), "the observed data must give an estimate"
    out += ["", "", "Bootstrap estimates of the coefficients and their standard deviations <y,n> ?"]
    files = {}
    trace = []
    rows = []
    if replicates is not None:
        out += ["", "", "How many bootstrap replicates ?"]
    if replicates is not None and replicates > 0:
        out += ["", "", "Input the seed for the random number generator (any integer)"]
        gen = Generator()
        gen.seed(seed)
        boot_lines = ["Bootstrap values"]
        for r in range(1, replicates + 1):
            if r % 10 == 0:
                out.append("Bootstrap # %d/%d" % (r, replicates))
            trace.append("replicate %d:" % r)
            if resample == "loci":
                drawn = bootstrap_loci(d, gen, log, trace)
                y = estimate(drawn, drawn["freq"], log)
            else:
                y = estimate(d, bootstrap_pops(d, gen, log, trace), log)
            if y == "C":
                msgs = ["Error: 2 parental populations with mean coal.times = 0 during bootstrap",
                        "Corvane2_0 cannot estimate admixture proportions in this case"]
            elif y == "D":
                out.append("error: Gaussian Elimination, no pivoting")  # no line end of its own
                msgs = ["Error: Gaussian Elimination"]
            if isinstance(y, str):
                if "refusal" in d:
                    files["stderr"] = [d["refusal"]]
                log += ["-----"] + msgs
                out += msgs
                files["bootstrap.txt"] = boot_lines
                files["log_file_admix.txt"] = log
                files["stdout"] = out
                files["status"] = ["0"]
                return files, trace
            rows.append(y)
            trace.append("  estimates " + " ".join(fmt(v) for v in y))
            boot_lines.append("%d\t" % r + "".join("mY%d\t%s\t" % (p + 1, fmt(y[p])) for p in range(P)))
        files["bootstrap.txt"] = boot_lines
        means, sds = mean_sd(rows, P)
        # A stored value of 2^128 or more is beyond the largest float: infinite.
        if any(abs(v) >= 2 ** 128 for v in means + sds):
            msgs = ["Error: the bootstrap means or standard deviations are not finite numbers: the replicates' "
                    "proportions are so large that their spread went beyond the largest single-precision value, "
                    "3.40282e+38",
                    "Corvane2_0 cannot estimate admixture proportions in this case"]
            log += ["-----"] + msgs
            out += msgs
            files.update({"log_file_admix.txt": log, "stdout": out, "status": ["0"]})
            return files, trace
    result = ["-----", "Admixture proportions:"]
    for p in range(P):
        result.append("Contribution of parental population %d: mY%d = %s" % (p + 1, p + 1, fmt(x[p])))
    if rows:
        result.append("")
        for p in range(P):
            result.append("Bootstrapped mY%d = %s" % (p + 1, fmt(means[p])))
            result.append("Bootstrapped SD of mY%d = %s" % (p + 1, fmt(sds[p])))
    out += ["", "", "Thanks to have used Corvane2_0 !", "Enter dummy character to quit !"]
    files["result_admix.txt"] = result
    files["log_file_admix.txt"] = log
    files["stdout"] = out
    files["status"] = ["1"]
    run.table = results_table(x, rows, means, sds) if rows else results_table(x, [], None, None)
    return files, trace


def quantile_type7(values, p):
    """R's default quantile: linear interpolation between order statistics, in
    double precision (Python floats), from the exact single-precision values."""
    xs = sorted(float(v) for v in values)
    h = (len(xs) - 1) * p
    low = math.floor(h)
    if low + 1 >= len(xs):
        return xs[-1]
    return xs[low] + (h - low) * (xs[low + 1] - xs[low])


def results_table(x, rows, means, sds):
    P = len(x)
    lines = ["parent\tmY" + ("\tboot_mean\tboot_sd\tq2.5\tq97.5" if rows else "")]
    for p in range(P):
        line = "%d\t%s" % (p + 1, fmt(x[p]))
        if rows:
            column = [row[p] for row in rows]
            line += "\t%s\t%s\t%s\t%s" % (fmt(means[p]), fmt(sds[p]), fmt(quantile_type7(column, 0.025)),
                                           fmt(quantile_type7(column, 0.975)))
        lines.append(line)
    return lines


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("data")
    ap.add_argument("--molecular", default="y")
    ap.add_argument("--replicates", type=int, default=None,
                    help="the count typed after answering y; omit when the bootstrap is declined")
    ap.add_argument("--seed", type=exact.parse_int, default=None)
    ap.add_argument("--out")
    ap.add_argument("--trace", action="store_true")
    ap.add_argument("--table", action="store_true")
    ap.add_argument("--resample", choices=("copies", "loci"), default="copies")
    args = ap.parse_args()
    files, trace = run(args.data, args.molecular, args.replicates, args.seed, args.resample)
    if args.trace:
        print("\n".join(trace))
    if args.table:
        print("\n".join(run.table))
    if args.out:
        os.makedirs(args.out, exist_ok=True)
        for name, lines in files.items():
            with open(os.path.join(args.out, name), "w") as f:
                f.write("".join(line + "\n" for line in lines))


if __name__ == "__main__":
    main()
