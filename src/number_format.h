#ifndef CORVANE_NUMBER_FORMAT_H
#define CORVANE_NUMBER_FORMAT_H

#include <string>

// Formats a floating value the one way every stream of the program prints it:
// general notation with six significant digits, trailing zeros and a trailing
// point removed, exponent written as e, a sign and at least two digits
// (1e-05, 1.5e+06), and the infinities and not-a-numbers as +INF, -INF, +NAN
// and -NAN. A single-precision value passed here is widened exactly, so it is
// printed at its true value, not rounded to float digits first.
std::string format_real(double value);

#endif
