#include "bootstrap_summary.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Each step of the interpolation rounded once to double, whatever the build:
// std::fma rounds its exact result once, so neither a compiler that fuses a
// multiply and an add (-ffp-contract=fast) nor the x87 unit, which keeps
// intermediate results in 80 bits (i386), can move a bit. The steps are those
// of plain double arithmetic on x86-64.
double rounded_product(double a, double b)
{
    return std::fma(a, b, 0.0);
}

double rounded_sum(double a, double b)
{
    return std::fma(1.0, a, b);
}

}  // namespace

double quantile_type7(std::vector<double> values, double p)
{
    if (values.empty())
        return std::numeric_limits<double>::quiet_NaN();
    std::sort(values.begin(), values.end());
    const double h = rounded_product(static_cast<double>(values.size()) - 1, p);
    const double below = std::floor(h);
    const auto low = static_cast<std::size_t>(below);
    if (low + 1 >= values.size())
        return values.back();
    // h - floor(h) is exact: the fraction of a double is a double.
    const double step = rounded_product(h - below, rounded_sum(values[low + 1], -values[low]));
    return rounded_sum(values[low], step);
}
