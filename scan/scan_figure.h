#ifndef CORVANE_SCAN_SCAN_FIGURE_H
#define CORVANE_SCAN_SCAN_FIGURE_H

#include <string>
#include <vector>

#include "model_fit.h"

namespace scan {

// DIR/scan.svg, drawn by the shared figure writer: the models in the table's
// order, each source's mY as a dot with a bar of +-2 SE, infeasible and refused
// models shaded; below, each model's p-value against the line p = 0.05.
std::string scan_figure(const std::vector<ModelResult>& results, const std::vector<std::string>& names);

}  // namespace scan

#endif
