#include "random_draws.h"

#include <cmath>

namespace simulate {

double natural_log(double x)
{
    // x = m * 2^e exactly, with m moved into [sqrt(1/2), sqrt(2)) so that
    // s = (m - 1) / (m + 1) is small: |s| < 0.172, s^2 < 0.0295.
    int exponent = 0;
    double m = std::frexp(x, &exponent);
    if (m < 0x1.6a09e667f3bcdp-1) {
        m *= 2;
        exponent -= 1;
    }
    const double s = (m - 1) / (m + 1);
    const double z = s * s;
    // ln(m) = 2 s (1 + z/3 + z^2/5 + ...); the first term left out, z^13/27, is
    // below 2^-70. The sum is nested from the smallest term outward. The constants are
    // hexadecimal so that no rounding of decimal text is involved.
    double series = 0;
    for (int k = 12; k >= 1; --k)
        series = series * z + 1.0 / (2 * k + 1);
    series = series * z + 1;
    const double ln2 = 0x1.62e42fefa39efp-1;  // the double nearest ln 2
    return exponent * ln2 + 2 * s * series;
}

double RandomDraws::uniform()
{
    // The top 53 bits of a 64-bit output are an exact double in [0, 1).
    return static_cast<double>(engine_() >> 11) * 0x1.0p-53;
}

double RandomDraws::exponential()
{
    // 1 - uniform() lies in (0, 1], so the logarithm is finite.
    return -natural_log(1 - uniform());
}

std::uint64_t RandomDraws::index_below(std::uint64_t n)
{
    // Outputs below 2^64 mod n would make the first residues more likely than
    // the others; they are drawn again.
    const std::uint64_t rejected_below = (0 - n) % n;
    std::uint64_t x = engine_();
    while (x < rejected_below)
        x = engine_();
    return x % n;
}

std::int64_t RandomDraws::poisson(double mean)
{
    std::int64_t events = 0;
    for (double elapsed = exponential(); elapsed < mean; elapsed += exponential())
        ++events;
    return events;
}

}  // namespace simulate
