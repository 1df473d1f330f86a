#include "bootstrap_summary.h"

#include <algorithm>
#include <cmath>
#include <limits>

double quantile_type7(std::vector<double> values, double p)
{
    if (values.empty())
        return std::numeric_limits<double>::quiet_NaN();
    std::sort(values.begin(), values.end());
    const double h = (static_cast<double>(values.size()) - 1) * p;
    const double below = std::floor(h);
    const auto low = static_cast<std::size_t>(below);
    if (low + 1 >= values.size())
        return values.back();
    return values[low] + (h - below) * (values[low + 1] - values[low]);
}
