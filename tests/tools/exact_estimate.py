#!/usr/bin/env python3
"""Independent reference for the admixture estimate, in exact rational arithmetic.

Every operation is computed exactly and then rounded to a chosen number of
significand bits, ties to even: 64 for the x86-64 extended type the program
evaluates its expressions in, 24 for the single-precision values it stores.
It writes the log blocks of the coalescence times and of the equations and the
report exactly as the program prints them, so that expected files for the
end-to-end cases can be worked out without the program under test.

    exact_estimate.py DATA_FILE [--evaluate extended|double|float] [--step STEP]...
                      [--no-divergence] [--write FOLDER]

With --write the whole log_file_admix.txt and result_admix.txt of a run without
bootstrap are written into FOLDER.

With --evaluate double (or float) the expressions are evaluated at 53 (or 24)
bits instead of 64: the outputs then show what a build that lost the extended
evaluation would print. With --step STEP (repeatable) only the named steps are
evaluated that way and the others keep 64 bits: what a build that lost the
extended evaluation in that one place would print. The steps are

    pair-sums       the pair sums and pair counts of each pair of populations
    means           the mean distances and their mean over loci
    admixture-term  twice the time since admixture times the mutation rate,
                    added to each parental population's own time
    coefficients    the sums of products that form the normal equations
    multiplier      the elimination multiplier alone
    elimination     the whole elimination: multiplier, updates, back
                    substitution and the sum of the proportions
"""
import sys
from fractions import Fraction

STEPS = ("pair-sums", "means", "admixture-term", "coefficients", "multiplier", "elimination")
EVAL_BITS = dict.fromkeys(STEPS, 64)
STORE_BITS = 24


def round_bits(x, bits):
    """x rounded to `bits` significand bits, ties to even (no overflow handling)."""
    x = Fraction(x)
    if x == 0:
        return Fraction(0)
    sign = -1 if x < 0 else 1
    a = abs(x)
    e = a.numerator.bit_length() - a.denominator.bit_length()
    if Fraction(2) ** e > a:
        e -= 1
    # now 2^e <= a < 2^(e+1); scale so the significand has `bits` bits
    scale = Fraction(2) ** (bits - 1 - e)
    m = a * scale
    q, r = divmod(m.numerator, m.denominator)
    rem = Fraction(r, m.denominator)
    if rem > Fraction(1, 2) or (rem == Fraction(1, 2) and q % 2 == 1):
        q += 1
    return sign * Fraction(q) / scale


def ev(x, *steps):
    """x evaluated as the named steps of the estimate evaluate it (the fewest bits
    of those steps when a value belongs to several)."""
    return round_bits(x, min(EVAL_BITS[step] for step in steps))


def st(x):
    return round_bits(x, STORE_BITS)


def to_double(x):
    return round_bits(x, 53)


def fmt(x):
    text = "%g" % float(x)
    return text


def parse_int(token):
    """A whole number with automatic base detection: 0x hexadecimal, 0 octal."""
    sign = -1 if token.startswith("-") else 1
    digits = token.lstrip("+-")
    if digits[:2].lower() == "0x":
        return sign * int(digits[2:], 16)
    if len(digits) > 1 and digits[0] == "0":
        return sign * int(digits[1:], 8)
    return sign * int(digits)


def read_data(path):
    tokens = open(path).read().split()
    pos = 0

    def take():
        nonlocal pos
        pos += 1
        return tokens[pos - 1]

    T = st(Fraction(take()))
    mu = st(Fraction(take()))
    P = parse_int(take())
    L = parse_int(take())
    loci = []
    for _ in range(L):
        take()
        n = parse_int(take())
        d = [[Fraction(0)] * n for _ in range(n)]
        for j in range(n):
            for k in range(j + 1):
                d[j][k] = d[k][j] = st(Fraction(take()))
        loci.append({"n": n, "d": d})
    for locus in loci:
        take()
        sizes = [parse_int(take()) for _ in range(P + 1)]
        counts = [[0] * locus["n"] for _ in range(P + 1)]
        for h in range(locus["n"]):
            for p in range(P + 1):
                counts[p][h] = parse_int(take())
        locus["sizes"] = sizes
        locus["counts"] = counts
    return T, mu, P, L, loci


def same_haplotype_pairs(c):
    v = to_double(ev(ev(Fraction(c - 1) * Fraction(1, 2), "pair-sums") * c, "pair-sums"))
    fl = v.numerator // v.denominator
    return fl if v - fl < Fraction(1, 2) else fl + (0 if v == fl else 1)


def coal_times(T, P, L, loci, counts_of):
    H = [Fraction(0)] * P
    PT = [[Fraction(0)] * P for _ in range(P)]
    tot = cnt = None
    for l, locus in enumerate(loci):
        n, d = locus["n"], locus["d"]
        c = counts_of(l)
        tot = [[Fraction(0)] * (P + 1) for _ in range(P + 1)]
        cnt = [[Fraction(0)] * (P + 1) for _ in range(P + 1)]
        for p in range(P + 1):
            for q in range(p, P + 1):
                for x in range(n):
                    for y in range(x, n):
                        if p == q and x == y:
                            w = same_haplotype_pairs(c[p][x])
                        elif p == q:
                            w = c[p][x] * c[p][y]
                        elif x == y:
                            w = c[p][x] * c[q][x]
                        else:
                            w = c[p][x] * c[q][y] + c[p][y] * c[q][x]
                        tot[p][q] = st(ev(tot[p][q] + ev(d[x][y] * w, "pair-sums"), "pair-sums"))
                        cnt[p][q] = st(ev(cnt[p][q] + w, "pair-sums"))
                tot[q][p], cnt[q][p] = tot[p][q], cnt[p][q]
        for k in range(P):
            H[k] = st(ev(H[k] + ev(tot[0][k + 1] / cnt[0][k + 1], "means"), "means"))
        for i in range(P):
            for j in range(P):
                PT[i][j] = st(ev(PT[i][j] + ev(tot[i + 1][j + 1] / cnt[i + 1][j + 1], "means"), "means"))
    H = [st(ev(h / L, "means")) for h in H]
    PT = [[st(ev(v / L, "means")) for v in row] for row in PT]
    lines = ["-----", "Time to admix event: " + fmt(T)]
    for k in range(P):
        lines.append("Hybrid-parental %d: Tot_diff:%s Count_diff:%s Times:%s"
                     % (k, fmt(tot[0][k + 1]), fmt(cnt[0][k + 1]), fmt(H[k])))
    for i in range(P):
        for j in range(i + 1):
            lines.append("Parentals %d,%d: Tot_diff:%s Count_diff:%s Times:%s"
                         % (j, i, fmt(tot[i + 1][j + 1]), fmt(cnt[i + 1][j + 1]), fmt(PT[i][j])))
    ok = all(PT[i][j] != 0 for i in range(1, P) for j in range(i))
    return H, PT, lines, ok


def precise_times(T, mu, P, L, loci, counts_of):
    """The mean coalescence times without any rounding (2*T*mu added to each
    parental population's own time): what the precise check of the program
    computes in double and long double."""
    H = [Fraction(0)] * P
    PT = [[Fraction(0)] * P for _ in range(P)]
    for l, locus in enumerate(loci):
        n, d = locus["n"], locus["d"]
        c = counts_of(l)
        sizes = [sum(c[p][:n]) for p in range(P + 1)]
        cnt = [[sizes[p] * (sizes[p] - 1) // 2 if p == q else sizes[p] * sizes[q]
                for q in range(P + 1)] for p in range(P + 1)]
        tot = [[Fraction(0)] * (P + 1) for _ in range(P + 1)]
        for p in range(P + 1):
            for q in range(P + 1):
                for x in range(n):
                    for y in range(n):
                        if p == q and x == y:
                            tot[p][q] += d[x][y] * c[p][x] * (c[p][x] - 1) / 2
                        elif p == q and x < y:
                            tot[p][q] += d[x][y] * c[p][x] * c[p][y]
                        elif p != q:
                            tot[p][q] += d[min(x, y)][max(x, y)] * c[p][x] * c[q][y]
        for k in range(P):
            H[k] += tot[0][k + 1] / cnt[0][k + 1]
        for i in range(P):
            for j in range(P):
                PT[i][j] += tot[i + 1][j + 1] / cnt[i + 1][j + 1]
    H = [h / L for h in H]
    PT = [[t / L for t in row] for row in PT]
    for i in range(P):
        PT[i][i] += 2 * T * mu
    return H, PT


def precise_solution(P, PT, H):
    """The exact solution of the normal equations of the precise times, or None
    when they are singular."""
    r = P - 1
    a = [[sum((PT[i][j] - PT[i][r]) * (PT[i][k] - PT[i][r]) for i in range(P)) for k in range(r)] +
         [sum((PT[i][j] - PT[i][r]) * (H[i] - PT[i][r]) for i in range(P))] for j in range(r)]
    for k in range(r):
        pivot = next((i for i in range(k, r) if a[i][k] != 0), None)
        if pivot is None:
            return None
        a[k], a[pivot] = a[pivot], a[k]
        for i in range(k + 1, r):
            m = a[i][k] / a[k][k]
            a[i] = [a[i][c] - m * a[k][c] for c in range(r + 1)]
    x = [Fraction(0)] * P
    for i in range(r - 1, -1, -1):
        x[i] = (a[i][r] - sum(a[i][c] * x[c] for c in range(i + 1, r))) / a[i][i]
    x[r] = 1 - sum(x[:r])
    return x


def digits_hold(x, precise):
    """The measured rule: the reported proportions x are refused when the precise
    ones are singular or lie further from them than 10^-3 of the largest precise
    proportion (and at least 10^-3). Returns (accepted, disagreement, allowed)."""
    if precise is None:
        return False, None, None
    disagreement = max(abs(a - b) for a, b in zip(x, precise))
    allowed = Fraction(1, 1000) * max([Fraction(1)] + [abs(b) for b in precise])
    return disagreement <= allowed, disagreement, allowed


def refusal_line(disagreement, allowed):
    """The program's message when the measured rule refuses an estimate."""
    advice = "the parental populations are too alike for this data: pool or drop one, or add loci"
    if disagreement is None:
        return "Error: the equations of the estimate are singular even when computed precisely: " + advice
    return ("Error: the estimate was refused: its proportions lie up to %s from a precise recomputation, more than "
            "the %s its digits need; %s" % (fmt(disagreement), fmt(allowed), advice))


def add_time_to_admix_event(P, PT, T, mu):
    term = ev(ev(2 * T, "admixture-term") * mu, "admixture-term")
    for i in range(P):
        PT[i][i] = st(ev(PT[i][i] + term, "admixture-term"))


def sum_products(pairs):
    s = Fraction(0)
    for a, b in pairs:
        s = ev(s + ev(a * b, "coefficients"), "coefficients")
    return s


def equations(P, PT, H):
    r = P - 1
    M = [[Fraction(0)] * P for _ in range(P)]
    v = [Fraction(0)] * P
    col = lambda j: [PT[i][j] for i in range(P)]
    for j in range(r):
        for k in range(r):
            if k == j:
                S1 = sum_products(zip(col(j), col(j)))
                S2 = sum_products(zip(col(r), col(r)))
                S3 = sum_products(zip(col(r), col(j)))
                M[j][j] = st(ev(S1 + ev(S2 - ev(2 * S3, "coefficients"), "coefficients"), "coefficients"))
            else:
                A = sum_products(zip(col(r), col(r)))
                B = sum_products(zip(col(j), col(k)))
                C = sum_products(zip(col(j), col(r)))
                D = sum_products(zip(col(r), col(k)))
                M[j][k] = st(ev(ev(B - D, "coefficients") + ev(A - C, "coefficients"), "coefficients"))
        Q1 = sum_products(zip(col(r), col(r)))
        Q2 = sum_products(zip(col(j), H))
        Q3 = sum_products(zip(H, col(r)))
        Q4 = sum_products(zip(col(r), col(j)))
        v[j] = st(ev(ev(Q2 - Q4, "coefficients") + ev(Q1 - Q3, "coefficients"), "coefficients"))
    lines = ["-----", "Linear equations of admixture coefficients !"]
    for j in range(r):
        terms = "+".join("%smu%d" % (fmt(M[j][k]), k + 1) for k in range(r))
        lines.append(terms + "=" + fmt(v[j]))
    return M, v, lines


def solve(P, M, v, precise="unchecked"):
    """The elimination without pivoting; None on a zero pivot, and, given the
    precise solution (None when singular), None too when the measured rule
    refuses the result."""
    n = P - 1
    a = [row[:] for row in M]
    b = v[:]
    x = [Fraction(0)] * P
    for k in range(n):
        if a[k][k] == 0:
            return None
        for i in range(k + 1, n):
            m = ev(a[i][k] / a[k][k], "multiplier", "elimination")
            for c in range(n):
                a[i][c] = st(ev(a[i][c] - ev(m * a[k][c], "elimination"), "elimination"))
            b[i] = st(ev(b[i] - ev(m * b[k], "elimination"), "elimination"))
    for i in range(n - 1, -1, -1):
        tt = Fraction(0)
        for c in range(i + 1, n):
            tt = ev(tt + ev(a[i][c] * x[c], "elimination"), "elimination")
        x[i] = st(ev(ev(b[i] - tt, "elimination") / a[i][i], "elimination"))
    s = Fraction(0)
    for k in range(n):
        s = ev(s + x[k], "elimination")
    x[n] = st(ev(1 - to_double(s), "elimination"))
    if precise != "unchecked" and not digits_hold(x, precise)[0]:
        return None
    return x


def echo_block(P, loci):
    lines = ["-----", "Read from data file:"]
    for l, locus in enumerate(loci):
        lines.append("Locus %d:" % l)
        for p in range(P + 1):
            lines.append("Population %d: " % p + "".join("%d " % c for c in locus["counts"][p]))
        lines.append("Distance matrix between haplotypes:")
        for j in range(locus["n"]):
            lines.append("".join(fmt(locus["d"][j][k]) + " " for k in range(j + 1)))
    return lines


def main():
    args = sys.argv[1:]
    if "--evaluate" in args:
        mode = args[args.index("--evaluate") + 1]
        chosen = [args[i + 1] for i, arg in enumerate(args) if arg == "--step"] or STEPS
        for step in chosen:
            if step not in EVAL_BITS:
                sys.exit("unknown step %r; the steps are %s" % (step, ", ".join(STEPS)))
            EVAL_BITS[step] = {"extended": 64, "double": 53, "float": 24}[mode]
    T, mu, P, L, loci = read_data(args[0])
    if "--no-divergence" in args:
        for locus in loci:
            n = locus["n"]
            locus["d"] = [[Fraction(0 if j == k else 1) for k in range(n)] for j in range(n)]
    log = echo_block(P, loci)
    H, PT, times, ok = coal_times(T, P, L, loci, lambda l: loci[l]["counts"])
    log += times
    report = None
    if ok:
        add_time_to_admix_event(P, PT, T, mu)
        M, v, eq_lines = equations(P, PT, H)
        log += eq_lines
        HS, PS = precise_times(T, mu, P, L, loci, lambda l: loci[l]["counts"])
        precise = precise_solution(P, PS, HS)
        x = solve(P, M, v, "unchecked")
        if x is not None:
            accepted, disagreement, allowed = digits_hold(x, precise)
            print("precise check: " + ("singular" if precise is None else
                  "disagreement %.3g, allowed %.3g, %s" % (disagreement, allowed,
                                                          "accepted" if accepted else "refused")))
            x = x if accepted else None
        if x is not None:
            report = ["-----", "Admixture proportions:"]
            report += ["Contribution of parental population %d: mY%d = %s" % (i + 1, i + 1, fmt(x[i]))
                       for i in range(P)]
    if "--write" in args:
        folder = args[args.index("--write") + 1]
        with open(folder + "/log_file_admix.txt", "w") as out:
            out.write("\n".join(log) + "\n")
        if report:
            with open(folder + "/result_admix.txt", "w") as out:
                out.write("\n".join(report) + "\n")
    print("\n".join(log[log.index("Read from data file:") + 1:][-(len(times) + (len(eq_lines) if ok else 0)):]))
    print("\n".join(report) if report else "(no estimate: a mean time of 0, a zero pivot or digits that are noise)")


if __name__ == "__main__":
    main()
