#ifndef CORVANE_SCAN_SCAN_OUTPUT_H
#define CORVANE_SCAN_SCAN_OUTPUT_H

// What the scan writes: the table (standard output and scan.tsv), the run
// record, and the order of the models in both.

#include <string>
#include <vector>

#include "model_fit.h"

namespace scan {

// Feasible models first, then by p, largest first (models without p after
// those with one), the order of the scan between equals.
void sort_models(std::vector<ModelResult>& results);

// The table: a header line and one line per model, tab-separated; numbers in the
// program's one format, NA where there is none.
std::string table_text(const std::vector<ModelResult>& results, const std::vector<std::string>& names,
                       bool bootstrap);

// The sources of a model by name, comma-separated.
std::string sources_text(const ModelResult& result, const std::vector<std::string>& names);

// Writes `contents` to `path` through a temporary file beside it, created anew
// (never an existing file or a link), then renamed into place: a file on disk
// is always whole. Throws RunError.
void write_whole_file(const std::string& path, const std::string& contents);

}  // namespace scan

#endif
