#!/usr/bin/env python3
"""Exact-arithmetic reference for whole runs with bootstrap replicates.

Works out, independently of the program, the files a run leaves behind for a
small data file: the console output, "log_file_admix.txt", "result_admix.txt"
and "bootstrap.txt". Every value is carried as an exact fraction and rounded
explicitly where the program stores or evaluates it:

  * f32(x)  -- to a 24-bit significand (a stored single-precision value),
  * ext(x)  -- to a 64-bit significand (an x86 extended-precision result),
  * f64(x)  -- to a 53-bit significand (a double),

all to nearest, ties to even. The pair sums use the plain loops over every pair
of populations (p, q >= p) and every pair of haplotypes (x, y >= x), zero
weights included; the draws use the plain walk over the running totals.

  bootstrap_reference.py DATA_FILE --molecular y --replicates 3 --seed 2024 \
      --out DIR [--trace]

--trace prints every random number, the haplotype it selects and the
resampled counts, so that a case can be checked by hand line by line.
"""
import argparse
import math
import os
import sys
from fractions import Fraction

# Rounding and whole numbers are shared with the reference of the plain estimate.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from exact_estimate import parse_int, round_bits  # noqa: E402

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


whole = parse_int


def read_data(path):
    tokens = open(path).read().split()
    pos = 0

    def take():
        nonlocal pos
        pos += 1
        return tokens[pos - 1]

    d = {}
    d["T"] = f32(Fraction(take()))
    d["mu"] = f32(Fraction(take()))
    P = d["P"] = whole(take())
    L = d["L"] = whole(take())
    d["n"] = []
    d["dist"] = []
    for _ in range(L):
        take()
        n = whole(take())
        d["n"].append(n)
        m = [[Fraction(0)] * n for _ in range(n)]
        for j in range(n):
            for k in range(j + 1):
                m[j][k] = m[k][j] = f32(Fraction(take()))
        d["dist"].append(m)
    d["size"] = []
    d["freq"] = []
    for l in range(L):
        take()
        d["size"].append([whole(take()) for _ in range(P + 1)])
        counts = [[0] * d["n"][l] for _ in range(P + 1)]
        for h in range(d["n"][l]):
            for p in range(P + 1):
                counts[p][h] = whole(take())
        d["freq"].append(counts)
    return d


# ---------------------------------------------------------------------------
# The estimate


def same_pairs(c):
    half = f64(ext(ext(Fraction(c - 1) * Fraction(1, 2)) * c))
    fl = math.floor(half)
    return fl if half - fl < Fraction(1, 2) else math.ceil(half)


def coal_times(d, freq, log):
    P, L = d["P"], d["L"]
    H = [Fraction(0)] * P
    PP = [[Fraction(0)] * P for _ in range(P)]
    for l in range(L):
        tot = [[Fraction(0)] * (P + 1) for _ in range(P + 1)]
        cnt = [[Fraction(0)] * (P + 1) for _ in range(P + 1)]
        n = d["n"][l]
        dist = d["dist"][l]
        c = freq[l]
        for p in range(P + 1):
            for q in range(p, P + 1):
                for x in range(n):
                    for y in range(x, n):
                        if p == q and x == y:
                            w = same_pairs(c[p][x])
                        elif p == q:
                            w = c[p][x] * c[p][y]
                        elif x == y:
                            w = c[p][x] * c[q][x]
                        else:
                            w = c[p][x] * c[q][y] + c[p][y] * c[q][x]
                        tot[p][q] = f32(ext(tot[p][q] + dist[x][y] * w))
                        cnt[p][q] = f32(ext(cnt[p][q] + w))
                tot[q][p] = tot[p][q]
                cnt[q][p] = cnt[p][q]
        for k in range(P):
            H[k] = f32(ext(H[k] + ext(tot[0][k + 1] / cnt[0][k + 1])))
        for i in range(P):
            for j in range(P):
                PP[i][j] = f32(ext(PP[i][j] + ext(tot[i + 1][j + 1] / cnt[i + 1][j + 1])))
    for k in range(P):
        H[k] = f32(ext(H[k] / L))
    for i in range(P):
        for j in range(P):
            PP[i][j] = f32(ext(PP[i][j] / L))
    log.append("-----")
    log.append("Time to admix event: " + fmt(d["T"]))
    for k in range(P):
        log.append("Hybrid-parental %d: Tot_diff:%s Count_diff:%s Times:%s"
                   % (k, fmt(tot[0][k + 1]), fmt(cnt[0][k + 1]), fmt(H[k])))
    for i in range(P):
        for j in range(i + 1):
            log.append("Parentals %d,%d: Tot_diff:%s Count_diff:%s Times:%s"
                       % (j, i, fmt(tot[i + 1][j + 1]), fmt(cnt[i + 1][j + 1]), fmt(PP[i][j])))
    ok = all(PP[i][j] != 0 for i in range(1, P) for j in range(i))
    return ok, H, PP


def add_time(d, PP):
    term = ext(ext(2 * d["T"]) * d["mu"])
    for i in range(d["P"]):
        PP[i][i] = f32(ext(PP[i][i] + term))


def esum(terms):
    s = Fraction(0)
    for t in terms:
        s = ext(s + t)
    return s


def equations(d, H, PP, log):
    n = d["P"]
    r = n - 1
    M = [[Fraction(0)] * n for _ in range(n)]
    v = [Fraction(0)] * n
    col = lambda a, b: esum(PP[i][a] * PP[i][b] for i in range(n))
    colH = lambda a: esum(PP[i][a] * H[i] for i in range(n))
    for j in range(r):
        for k in range(r):
            if k == j:
                S1, S2, S3 = col(j, j), col(r, r), col(r, j)
                M[j][j] = f32(ext(S1 + ext(S2 - ext(2 * S3))))
            else:
                A, B, C, D = col(r, r), col(j, k), col(j, r), col(r, k)
                M[j][k] = f32(ext(ext(B - D) + ext(A - C)))
        Q1, Q2, Q3, Q4 = col(r, r), colH(j), esum(H[i] * PP[i][r] for i in range(n)), col(r, j)
        v[j] = f32(ext(ext(Q2 - Q4) + ext(Q1 - Q3)))
    log.append("-----")
    log.append("Linear equations of admixture coefficients !")
    for j in range(r):
        line = ""
        for k in range(r):
            line += fmt(M[j][k]) + "mu" + str(k + 1)
            if k != r - 1:
                line += "+"
        log.append(line + "=" + fmt(v[j]))
    return M, v


def gauss(d, M, v):
    n = d["P"] - 1
    a = [row[:] for row in M]
    b = v[:]
    x = [None] * (n + 1)
    for k in range(n):
        if a[k][k] == 0:
            return None
        for i in range(k + 1, n):
            m = ext(a[i][k] / a[k][k])
            for c in range(n):
                a[i][c] = f32(ext(a[i][c] - ext(m * a[k][c])))
            b[i] = f32(ext(b[i] - ext(m * b[k])))
    for i in range(n - 1, -1, -1):
        tt = esum(a[i][c] * x[c] for c in range(i + 1, n))
        x[i] = f32(ext(ext(b[i] - tt) / a[i][i]))
    s = f64(esum(x[k] for k in range(n)))
    x[n] = f32(ext(1 - s))
    return x


def estimate(d, freq, log):
    ok, H, PP = coal_times(d, freq, log)
    if not ok:
        return "C"
    add_time(d, PP)
    M, v = equations(d, H, PP, log)
    x = gauss(d, M, v)
    if x is None:
        return "D"
    return x


# ---------------------------------------------------------------------------
# The bootstrap


def draw(gen, counts, n, trace):
    r = gen.next() % n
    numbers = [r]
    if r == 0 and counts[0] > 0:
        h = 0
    elif n == 1:
        # only 0 can be drawn: the one present haplotype
        h = next(h for h, c in enumerate(counts) if c > 0)
    else:
        while r == 0:
            r = gen.next() % n
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


def run(data_path, molecular, replicates, seed):
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
            boot = bootstrap_pops(d, gen, log, trace)
            y = estimate(d, boot, log)
            if y == "C":
                msgs = ["Error: 2 parental populations with mean coal.times = 0 during bootstrap",
                        "Corvane2_0 cannot estimate admixture proportions in this case"]
            elif y == "D":
                out.append("error: Gaussian Elimination, no pivoting")  # no line end of its own
                msgs = ["Error: Gaussian Elimination"]
            if isinstance(y, str):
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
    return files, trace


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("data")
    ap.add_argument("--molecular", default="y")
    ap.add_argument("--replicates", type=int, default=None,
                    help="the count typed after answering y; omit when the bootstrap is declined")
    ap.add_argument("--seed", type=lambda s: whole(s), default=None)
    ap.add_argument("--out")
    ap.add_argument("--trace", action="store_true")
    args = ap.parse_args()
    files, trace = run(args.data, args.molecular, args.replicates, args.seed)
    if args.trace:
        print("\n".join(trace))
    if args.out:
        os.makedirs(args.out, exist_ok=True)
        for name, lines in files.items():
            with open(os.path.join(args.out, name), "w") as f:
                f.write("".join(line + "\n" for line in lines))


if __name__ == "__main__":
    main()
