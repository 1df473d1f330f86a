#!/usr/bin/env python3
"""Upper tails P(F >= f) of the F distribution, worked out independently of
corvane-scan: the F density integrated numerically from f to infinity with the
standard library alone (composite Simpson's rule after the change of variable
x = f / u^2, which maps [f, inf) onto (0, 1] and leaves a smooth integrand for
d2 >= 1), printed beside the closed forms that exist for d1 = 2 and d2 = 2.
The values of tests/scan/test_scan.cpp come from here:

    python3 tests/tools/f_tail_reference.py
"""
import math

CASES = [(1, 10, 4.9646), (2, 10, 4.10), (2, 28, 0.5), (3, 27, 2.96), (4, 96, 2.47),
         (5, 2, 19.3), (7, 3, 0.8), (1, 1, 1.0), (10, 40, 25.0), (30, 70, 1.0)]


def log_density(d1, d2, log_x):
    log_beta = math.lgamma(d1 / 2) + math.lgamma(d2 / 2) - math.lgamma((d1 + d2) / 2)
    # log(1 + d1 x / d2) without forming a huge x
    log_ratio = math.log(d1 / d2) + log_x
    log_1p = log_ratio + math.log1p(math.exp(-log_ratio)) if log_ratio > 0 else math.log1p(math.exp(log_ratio))
    return (d1 / 2) * math.log(d1 / d2) + (d1 / 2 - 1) * log_x - ((d1 + d2) / 2) * log_1p - log_beta


def upper_tail(d1, d2, f, intervals=200000):
    # x = f / u^2, dx = 2 f / u^3 du
    def integrand(u):
        u = max(u, 1e-100)  # the limit at u = 0, not zero when d2 = 1
        log_u = math.log(u)
        return math.exp(log_density(d1, d2, math.log(f) - 2 * log_u) + math.log(2 * f) - 3 * log_u)
    h = 1.0 / intervals
    total = integrand(0.0) + integrand(1.0)
    for i in range(1, intervals):
        total += (4 if i % 2 else 2) * integrand(i * h)
    return total * h / 3


def closed_form(d1, d2, f):
    if d1 == 2:
        return (1 + 2 * f / d2) ** (-d2 / 2)
    if d2 == 2:
        return 1 - (d1 * f / (2 + d1 * f)) ** (d1 / 2)
    return None


if __name__ == "__main__":
    for d1, d2, f in CASES:
        exact = closed_form(d1, d2, f)
        print(d1, d2, f, "%.12g" % upper_tail(d1, d2, f), "" if exact is None else "closed form %.12g" % exact)
