#include "population_names.h"

#include <fstream>

#include "quoted_text.h"

std::string default_key_path(const std::string& data_file)
{
    const std::size_t slash = data_file.find_last_of('/');
    const std::size_t dot = data_file.find_last_of('.');
    const bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (has_extension ? data_file.substr(0, dot) : data_file) + ".haplotypes.tsv";
}

namespace {

std::vector<std::string> tab_separated(const std::string& line)
{
    std::vector<std::string> cells;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        cells.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return cells;
        start = tab + 1;
    }
}

}  // namespace

std::optional<PopulationNames> read_key_names(const std::string& path, std::string& problem)
{
    std::ifstream key(path);
    if (!key) {
        problem = "the key file " + quoted(path) + " could not be opened";
        return std::nullopt;
    }
    std::string line;
    // The header lines come first, each after "# "; then the column header.
    while (std::getline(key, line) && !line.empty() && line[0] == '#') {
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    const std::vector<std::string> cells = tab_separated(line);
    if (cells.size() < 6 || cells[0] != "locus" || cells[1] != "index" || cells[2] != "haplotype") {
        problem = "the key file " + quoted(path) +
                  " has no column header \"locus, index, haplotype\" followed by the hybrid and at least two parents";
        return std::nullopt;
    }
    PopulationNames names;
    names.key_file = path;
    names.hybrid = cells[3];
    names.parents.assign(cells.begin() + 4, cells.end());
    return names;
}

std::vector<std::string> parent_names(const std::optional<PopulationNames>& names, std::size_t parents)
{
    if (names && names->parents.size() == parents)
        return names->parents;
    std::vector<std::string> numbered;
    for (std::size_t p = 1; p <= parents; ++p)
        numbered.push_back("parent" + std::to_string(p));
    return numbered;
}
