#include "dataset.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <numeric>

namespace dataset {

namespace {

std::int64_t sum_of(const std::vector<std::int64_t>& counts)
{
    return std::accumulate(counts.begin(), counts.end(), std::int64_t{0});
}

std::string locus_problem(const Locus& locus, std::size_t index, std::size_t populations)
{
    const std::string where = "locus " + std::to_string(index) + " (" + locus.name + ")";
    const std::size_t n = locus.haplotypes.size();
    if (n > static_cast<std::size_t>(max_haplotypes_per_locus))
        return where + " has " + std::to_string(n) + " distinct haplotypes; at most " +
               std::to_string(max_haplotypes_per_locus) + " are accepted";
    if (locus.distances.size() != n)
        return where + ": the distance matrix has " + std::to_string(locus.distances.size()) + " rows for " +
               std::to_string(n) + " haplotypes";
    for (const auto& row : locus.distances)
        if (row.size() != n)
            return where + ": a row of the distance matrix has " + std::to_string(row.size()) + " values for " +
                   std::to_string(n) + " haplotypes";
    if (locus.counts.size() != populations)
        return where + ": counts are given for " + std::to_string(locus.counts.size()) + " populations instead of " +
               std::to_string(populations);
    for (const auto& row : locus.counts) {
        if (row.size() != n)
            return where + ": a row of counts has " + std::to_string(row.size()) + " values for " +
                   std::to_string(n) + " haplotypes";
        for (std::int64_t count : row)
            if (count < 0)
                return where + ": a count is negative";
        if (sum_of(row) > std::numeric_limits<std::int32_t>::max())
            return where + ": a sample holds more than 2147483647 copies";
    }
    return "";
}

}  // namespace

std::string problem_with(const DataSet& data)
{
    if (data.populations.size() < 3)
        return "a hybrid population and at least 2 parental populations are needed, " +
               std::to_string(data.populations.size()) + " populations were given";
    if (data.loci.empty())
        return "no locus is left to write";
    for (std::size_t l = 0; l < data.loci.size(); ++l) {
        const std::string problem = locus_problem(data.loci[l], l, data.populations.size());
        if (!problem.empty())
            return problem;
    }
    return "";
}

std::string real_text(double value)
{
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15) {
        const long long whole = static_cast<long long>(value);
        return std::to_string(whole);
    }
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general);
    return std::string(text, result.ptr);
}

std::string key_file_beside(const std::string& data_file)
{
    // A dot that begins the file's name (".data") starts no extension.
    const std::size_t slash = data_file.find_last_of('/');
    const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = data_file.find_last_of('.');
    const bool has_extension = dot != std::string::npos && dot > name_start;
    return (has_extension ? data_file.substr(0, dot) : data_file) + ".haplotypes.tsv";
}

std::string label_token(const std::string& name, std::size_t locus_index)
{
    std::string token;
    for (char ch : name) {
        const bool blank = ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' || ch == '\f';
        token += blank ? '_' : ch;
    }
    return token.empty() ? "locus" + std::to_string(locus_index + 1) : token;
}

void write_data_file(std::ostream& out, const DataSet& data)
{
    const std::size_t parents = data.populations.size() - 1;
    out << real_text(data.time_since_admixture) << ' ' << real_text(data.mutation_rate) << '\n';
    out << parents << ' ' << data.loci.size() << '\n';
    for (std::size_t l = 0; l < data.loci.size(); ++l) {
        const Locus& locus = data.loci[l];
        out << label_token(locus.name, l) << ' ' << locus.haplotypes.size() << '\n';
        for (std::size_t j = 0; j < locus.haplotypes.size(); ++j) {
            for (std::size_t k = 0; k <= j; ++k)
                out << (k ? " " : "") << real_text(locus.distances[j][k]);
            out << '\n';
        }
    }
    for (std::size_t l = 0; l < data.loci.size(); ++l) {
        const Locus& locus = data.loci[l];
        out << label_token(locus.name, l) << '\n';
        for (std::size_t p = 0; p < locus.counts.size(); ++p)
            out << (p ? " " : "") << sum_of(locus.counts[p]);
        out << '\n';
        for (std::size_t h = 0; h < locus.haplotypes.size(); ++h) {
            for (std::size_t p = 0; p < locus.counts.size(); ++p)
                out << (p ? " " : "") << locus.counts[p][h];
            out << '\n';
        }
    }
}

void write_key_file(std::ostream& out, const DataSet& data, const std::vector<std::string>& header_lines)
{
    for (const std::string& line : header_lines)
        out << "# " << line << '\n';
    out << "locus\tindex\thaplotype";
    for (const std::string& population : data.populations)
        out << '\t' << population;
    out << '\n';
    for (std::size_t l = 0; l < data.loci.size(); ++l) {
        const Locus& locus = data.loci[l];
        for (std::size_t h = 0; h < locus.haplotypes.size(); ++h) {
            out << label_token(locus.name, l) << '\t' << h << '\t' << locus.haplotypes[h];
            for (const auto& row : locus.counts)
                out << '\t' << row[h];
            out << '\n';
        }
    }
}

}  // namespace dataset
