#ifndef CORVANE_BOOTSTRAP_SUMMARY_H
#define CORVANE_BOOTSTRAP_SUMMARY_H

#include <vector>

// The quantile p (0 to 1) of a sample, computed like R's default `quantile`
// (type 7): with the n values sorted, h = (n - 1) p, and the quantile is
// x[floor(h)] + (h - floor(h)) (x[floor(h) + 1] - x[floor(h)]), the straight
// line between the two neighbouring order statistics. An empty sample has none
// (not-a-number).
double quantile_type7(std::vector<double> values, double p);

#endif
