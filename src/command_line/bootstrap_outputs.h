#ifndef CORVANE_BOOTSTRAP_OUTPUTS_H
#define CORVANE_BOOTSTRAP_OUTPUTS_H

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "run_record.h"

// The command line's files beside the report, for reading by programs and by
// eye: "bootstrap.tsv", the replicates as a table with one column per
// parental population, and "bootstrap.svg", their picture.
constexpr const char* bootstrap_table_name = "bootstrap.tsv";
constexpr const char* bootstrap_plot_name = "bootstrap.svg";

// One header line, "replicate" and the parents' names, then one line per
// replicate: its number and its mY values (the estimates flat, one row of
// parents after another). Written line by line to `out`: the table is as long
// as the replicates are many, and no second copy of it is held.
void write_bootstrap_table(std::ostream& out, const std::vector<std::string>& parents,
                           const std::vector<float>& replicate_estimates);

// After a bootstrap, one panel per parental population: the histogram of its
// replicate values, the estimate and the 2.5 % and 97.5 % quantiles; without
// one, a bar chart of the estimates.
std::string bootstrap_plot(const std::vector<std::string>& parents, const std::vector<ParentResult>& results,
                           const std::vector<float>& replicate_estimates);

// Writes to `path` what `write_contents` puts in the stream, through a
// temporary file renamed into place, so that the file on disk is always whole;
// false when it could not be written.
bool write_whole_file(const std::string& path, const std::function<void(std::ostream&)>& write_contents);

#endif
