#include "f_distribution.h"

#include <cmath>
#include <limits>

namespace scan {

namespace {

// The continued fraction of I_x(a, b) without its prefactor,
//   1 / (1 + d1 / (1 + d2 / (1 + ...))),
//   d(2m+1) = -(a+m)(a+b+m) x / ((a+2m)(a+2m+1)),  d(2m) = m(b-m) x / ((a+2m-1)(a+2m)),
// evaluated from the front by the modified Lentz method: every partial value is
// a ratio of two running products, each kept away from zero by `tiny`.
double beta_continued_fraction(double a, double b, double x)
{
    constexpr double tiny = 1e-300;
    constexpr double relative_step = 1e-16;
    constexpr int most_terms = 10000;
    double c = 1.0;
    double d = 1.0 - (a + b) * x / (a + 1.0);
    if (std::fabs(d) < tiny)
        d = tiny;
    d = 1.0 / d;
    double fraction = d;
    for (int m = 1; m <= most_terms; ++m) {
        const double even = m * (b - m) * x / ((a + 2.0 * m - 1.0) * (a + 2.0 * m));
        d = 1.0 + even * d;
        c = 1.0 + even / c;
        if (std::fabs(d) < tiny)
            d = tiny;
        if (std::fabs(c) < tiny)
            c = tiny;
        d = 1.0 / d;
        fraction *= d * c;
        const double odd = -(a + m) * (a + b + m) * x / ((a + 2.0 * m) * (a + 2.0 * m + 1.0));
        d = 1.0 + odd * d;
        c = 1.0 + odd / c;
        if (std::fabs(d) < tiny)
            d = tiny;
        if (std::fabs(c) < tiny)
            c = tiny;
        d = 1.0 / d;
        const double step = d * c;
        fraction *= step;
        if (std::fabs(step - 1.0) < relative_step)
            break;
    }
    return fraction;
}

// x^a (1-x)^b / (a B(a, b)), through logarithms so that large a and b neither
// overflow nor underflow on the way.
double beta_prefactor(double a, double b, double x, double one_minus_x)
{
    const double log_beta = std::lgamma(a) + std::lgamma(b) - std::lgamma(a + b);
    return std::exp(a * std::log(x) + b * std::log(one_minus_x) - log_beta) / a;
}

}  // namespace

double regularized_incomplete_beta(double a, double b, double x, double one_minus_x)
{
    if (std::isnan(a) || std::isnan(b) || std::isnan(x) || std::isnan(one_minus_x))
        return std::numeric_limits<double>::quiet_NaN();
    if (x <= 0.0)
        return 0.0;
    if (one_minus_x <= 0.0)
        return 1.0;
    // The fraction converges quickly for x below the mean-like point (a+1)/(a+b+2).
    if (x < (a + 1.0) / (a + b + 2.0))
        return beta_prefactor(a, b, x, one_minus_x) * beta_continued_fraction(a, b, x);
    return 1.0 - beta_prefactor(b, a, one_minus_x, x) * beta_continued_fraction(b, a, one_minus_x);
}

// With y = d2 / (d2 + d1 f), P(F >= f) = I_y(d2/2, d1/2); 1 - y = d1 f / (d2 + d1 f)
// is formed directly, not by subtraction.
double f_upper_tail(double d1, double d2, double f)
{
    if (std::isnan(d1) || std::isnan(d2) || std::isnan(f))
        return std::numeric_limits<double>::quiet_NaN();
    if (f <= 0.0)
        return 1.0;
    if (std::isinf(f))
        return 0.0;
    const double denominator = d2 + d1 * f;
    return regularized_incomplete_beta(d2 / 2.0, d1 / 2.0, d2 / denominator, d1 * f / denominator);
}

}  // namespace scan
