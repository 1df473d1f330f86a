#include "number_format.h"

#include <cmath>
#include <cstdio>

std::string format_real(double value)
{
    if (std::isnan(value))
        return std::signbit(value) ? "-NAN" : "+NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "+INF";
    // %g is exactly the general notation wanted: six significant digits,
    // fixed unless the exponent is below -4 or at least 6, trailing zeros
    // dropped, exponent with sign and at least two digits.
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}
