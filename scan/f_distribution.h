#ifndef CORVANE_SCAN_F_DISTRIBUTION_H
#define CORVANE_SCAN_F_DISTRIBUTION_H

namespace scan {

// The regularized incomplete beta function I_x(a, b), a, b > 0, 0 <= x <= 1:
// the probability that a Beta(a, b) variable lies below x. Evaluated by its
// continued fraction on the side where it converges fast, and by the symmetry
// I_x(a, b) = 1 - I_{1-x}(b, a) on the other, with 1 - x passed in as
// `one_minus_x` so that a tail near 0 keeps its relative precision.
double regularized_incomplete_beta(double a, double b, double x, double one_minus_x);

// P(F >= f) for an F variable with d1 and d2 degrees of freedom (both > 0);
// 1 for f <= 0, not-a-number when an argument is not-a-number.
double f_upper_tail(double d1, double d2, double f);

}  // namespace scan

#endif
