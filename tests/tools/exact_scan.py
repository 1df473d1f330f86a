#!/usr/bin/env python3
"""Independent reference for corvane-scan's table, in exact rational arithmetic.

For every model of the scan (sets of sources among the data file's candidates,
sizes as --sources gives them) it works out, without the program:
  - mY, the estimate on the hybrid and the sources alone, rounded as the
    estimator rounds it and checked against the precise estimate as it checks
    it (exact_estimate.py's arithmetic on the cut data);
  - the residuals e_o = T(H,o) - sum_k mY_k T(S_k,o) of the references, the
    times taken exactly from the pair sums;
  - the delete-one-locus jackknife (mY and e recomputed without each locus),
    its SE of mY and its covariance V of e, and Q = e' V^-1 e exactly;
  - p = P(F(R, L-R) >= (L-R)/(R(L-1)) Q) where it has a closed form (L - R = 2:
    1 - (R f / (2 + R f))^(R/2); R = 2: (1 + 2 f / (L-R))^(-(L-R)/2)), else "?";
and prints the table corvane-scan writes (sources named 1..C, no key file).

    exact_scan.py DATA_FILE [--sources K|K1-K2]
"""
import math
import sys
from fractions import Fraction
from itertools import combinations

import exact_estimate as ee


def pair_sums_exact(locus, rows):
    """Exact pair sums and counts between the populations `rows` of one locus."""
    n, d, c = locus["n"], locus["d"], locus["counts"]
    tot, cnt = {}, {}
    for a in rows:
        for b in rows:
            t = w_sum = Fraction(0)
            for x in range(n):
                for y in range(n):
                    if a == b and x == y:
                        w = Fraction(c[a][x] * (c[a][x] - 1))
                    else:
                        w = Fraction(c[a][x] * c[b][y])
                    t += d[min(x, y)][max(x, y)] * w
                    w_sum += w
            tot[a, b], cnt[a, b] = t, w_sum
    return tot, cnt


def estimate(T, mu, loci, sources):
    cut = [dict(locus, counts=[locus["counts"][0]] + [locus["counts"][s] for s in sources]) for locus in loci]
    K = len(sources)
    if K == 1:
        return [Fraction(1)]
    H, PT, _, ok = ee.coal_times(T, K, len(cut), cut, lambda l: cut[l]["counts"])
    if not ok:
        return None
    ee.add_time_to_admix_event(K, PT, T, mu)
    M, v, _ = ee.equations(K, PT, H)
    HS, PS = ee.precise_times(T, mu, K, len(cut), cut, lambda l: cut[l]["counts"])
    return ee.solve(K, M, v, ee.precise_solution(K, PS, HS))


def residuals(tables, loci_used, sources, references, mY):
    def time(a, b):
        return sum((tables[l][0][a, b] / tables[l][1][a, b] for l in loci_used), Fraction(0)) / len(loci_used)
    return [time(0, o) - sum((m * time(s, o) for m, s in zip(mY, sources)), Fraction(0)) for o in references]


def solve_exact(V, e):
    """V^-1 e by Gaussian elimination in rationals (None when singular)."""
    n = len(e)
    a = [row[:] + [e[i]] for i, row in enumerate(V)]
    for k in range(n):
        pivot = next((i for i in range(k, n) if a[i][k] != 0), None)
        if pivot is None:
            return None
        a[k], a[pivot] = a[pivot], a[k]
        for i in range(n):
            if i != k:
                m = a[i][k] / a[k][k]
                a[i] = [x - m * y for x, y in zip(a[i], a[k])]
    return [a[i][n] / a[i][i] for i in range(n)]


def p_value(R, L, Q):
    f = Fraction(L - R, R * (L - 1)) * Q
    if L - R == 2:
        return 1 - (R * f / (2 + R * f)) ** (R / 2)
    if R == 2:
        return (1 + 2 * f / (L - R)) ** (-(L - R) / 2)
    return None


def fmt(x):
    return ee.fmt(x) if x is not None else "NA"


def model_row(T, mu, loci, tables, candidates, sources):
    L = len(loci)
    references = [o for o in candidates if o not in sources]
    R = len(references)
    mY = estimate(T, mu, loci, sources)
    without = [estimate(T, mu, loci[:l] + loci[l + 1:], sources) for l in range(L)]
    scale = Fraction(L - 1, L)
    se = []
    for k in range(len(sources)):
        mean = sum(w[k] for w in without) / L
        se.append(math.sqrt(scale * sum((w[k] - mean) ** 2 for w in without)))
    Q = p = None
    if R > 0 and L > R + 1:
        e = residuals(tables, range(L), sources, references, mY)
        e_l = [residuals(tables, [m for m in range(L) if m != l], sources, references, without[l]) for l in range(L)]
        mean = [sum(x[o] for x in e_l) / L for o in range(R)]
        V = [[scale * sum((x[a] - mean[a]) * (x[b] - mean[b]) for x in e_l) for b in range(R)] for a in range(R)]
        y = solve_exact(V, e)
        if y is not None:
            Q = sum(a * b for a, b in zip(e, y))
            p = p_value(R, L, Q)
    feasible = all(0 <= m <= 1 for m in mY)
    row = [",".join(str(s) for s in sources), ",".join(fmt(m) for m in mY), ",".join(fmt(s) for s in se),
           fmt(Q), str(R), fmt(p) if Q is None or p is not None else "?", "yes" if feasible else "no", "NA"]
    return row, feasible, p


def main():
    args = sys.argv[1:]
    T, mu, P, L, loci = ee.read_data(args[0])
    sizes = args[args.index("--sources") + 1] if "--sources" in args else "2"
    low, _, high = sizes.partition("-")
    low, high = int(low), int(high or low)
    tables = [pair_sums_exact(locus, range(P + 1)) for locus in loci]
    candidates = list(range(1, P + 1))
    rows = []
    for K in range(low, min(high, P) + 1):
        for sources in combinations(candidates, K):
            rows.append(model_row(T, mu, loci, tables, candidates, list(sources)))
    order = sorted(range(len(rows)), key=lambda i: (not rows[i][1], rows[i][2] is None,
                                                    -(rows[i][2] or 0), i))
    print("sources\tmY\tse\tQ\tdf\tp\tfeasible\trefused")
    for i in order:
        print("\t".join(rows[i][0]))


if __name__ == "__main__":
    main()
