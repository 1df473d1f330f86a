#include "scan_data.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "data_file_tokens.h"
#include "dataset.h"
#include "errors.h"
#include "whole_number.h"

namespace scan {

namespace {

// The whole file, read at once from a regular file only: a named pipe or a
// device could block the run or never end.
std::string read_whole_file(const std::string& path, const char* what)
{
    const int file = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file < 0)
        throw RunError("cannot open the " + std::string(what) + " " + quoted(path) + ": " +
                       std::generic_category().message(errno));
    struct stat status {};
    if (::fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(file);
        throw RunError("the " + std::string(what) + " " + quoted(path) + " is not a regular file");
    }
    std::string contents;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(file, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            ::close(file);
            throw RunError("cannot read the " + std::string(what) + " " + quoted(path));
        }
        if (got == 0)
            break;
        contents.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(file);
    static const std::string byte_order_mark = "\xEF\xBB\xBF";
    if (contents.compare(0, byte_order_mark.size(), byte_order_mark) == 0)
        contents.erase(0, byte_order_mark.size());
    return contents;
}

bool is_digit(char ch)
{
    return ch >= '0' && ch <= '9';
}

// A decimal number with optional sign, point and exponent, and nothing else,
// as the estimator accepts it.
bool is_decimal_number(const std::string& token)
{
    std::size_t pos = 0;
    if (pos < token.size() && (token[pos] == '+' || token[pos] == '-'))
        ++pos;
    std::size_t digits = 0;
    while (pos < token.size() && is_digit(token[pos])) { ++pos; ++digits; }
    if (pos < token.size() && token[pos] == '.') {
        ++pos;
        while (pos < token.size() && is_digit(token[pos])) { ++pos; ++digits; }
    }
    if (digits == 0)
        return false;
    if (pos < token.size() && (token[pos] == 'e' || token[pos] == 'E')) {
        ++pos;
        if (pos < token.size() && (token[pos] == '+' || token[pos] == '-'))
            ++pos;
        std::size_t exponent_digits = 0;
        while (pos < token.size() && is_digit(token[pos])) { ++pos; ++exponent_digits; }
        if (exponent_digits == 0)
            return false;
    }
    return pos == token.size();
}

// Reads typed values from the tokens, or throws RunError naming the file, the
// value expected and the token found.
class TokenReader {
public:
    TokenReader(const std::string& path, const std::string& contents) : _path(path), _tokens(contents) {}

    void label(const std::string& what) { take(what); }

    // The float nearest to the decimal token (from_chars and strtof both round
    // correctly); a magnitude beyond the floats is the largest float.
    float real(const std::string& what)
    {
        take(what);
        if (!is_decimal_number(_token))
            fail("expected " + what + " (a decimal number), found " + quoted(_token));
        float value = 0;
        const char* end = _token.data() + _token.size();
        const auto [stop, problem] = std::from_chars(_token.data(), end, value);
        if (problem != std::errc() || stop != end)
            value = std::strtof(_token.c_str(), nullptr);
        if (std::isinf(value))
            value = std::copysign(std::numeric_limits<float>::max(), value);
        return value;
    }

    int whole(const std::string& what, int least, int most)
    {
        take(what);
        int value = 0;
        const WholeNumberScan scan = parse_whole_token(_token, value);
        if (scan != WholeNumberScan::ok)
            fail("expected " + what + " (a whole number of at most 32 bits), found " + quoted(_token));
        if (value < least || value > most)
            fail(what + " is " + std::to_string(value) + "; it must lie between " + std::to_string(least) + " and " +
                 std::to_string(most));
        return value;
    }

    [[noreturn]] void fail(const std::string& text) { throw RunError("data file " + quoted(_path) + ": " + text); }

private:
    void take(const std::string& what)
    {
        if (!_tokens.next(_token))
            fail("the file ends before " + what);
    }

    std::string _path;
    DataFileTokens _tokens;
    std::string _token;
};

std::string locus_text(int locus)
{
    return "locus " + std::to_string(locus);
}

void read_distances(TokenReader& reader, int l, ScanLocus& locus)
{
    reader.label("the label of " + locus_text(l) + " in the distance section");
    const int n = reader.whole("the number of haplotypes of " + locus_text(l), 0, dataset::max_haplotypes_per_locus);
    locus.haplotypes = n;
    locus.distances.assign(static_cast<std::size_t>(n) * n, 0.0f);
    for (int j = 0; j < n; ++j)
        for (int k = 0; k <= j; ++k) {
            const float d = reader.real("the distance between haplotypes " + std::to_string(j) + " and " +
                                        std::to_string(k) + " of " + locus_text(l));
            locus.distances[static_cast<std::size_t>(j) * n + k] = d;
            locus.distances[static_cast<std::size_t>(k) * n + j] = d;
        }
}

void read_counts(TokenReader& reader, int l, int populations, ScanLocus& locus)
{
    const int most = std::numeric_limits<int>::max();
    reader.label("the label of " + locus_text(l) + " in the count section");
    for (int p = 0; p < populations; ++p)
        reader.whole("the sample size of population " + std::to_string(p) + " at " + locus_text(l), 0, most);
    const int n = locus.haplotypes;
    locus.counts.assign(static_cast<std::size_t>(populations) * n, 0);
    for (int h = 0; h < n; ++h)
        for (int p = 0; p < populations; ++p)
            locus.counts[static_cast<std::size_t>(p) * n + h] =
                reader.whole("the count of haplotype " + std::to_string(h) + " of population " + std::to_string(p) +
                                 " at " + locus_text(l),
                             0, most);
}

std::vector<std::string> split_tabs(const std::string& line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

}  // namespace

ScanData read_scan_data(const std::string& path)
{
    ScanData data;
    data.contents = read_whole_file(path, "data file");
    TokenReader reader(path, data.contents);
    data.time_since_admixture = reader.real("the time since the admixture event");
    data.mutation_rate = reader.real("the mutation rate per year");
    data.candidates = reader.whole("the number of parental populations", 1, std::numeric_limits<int>::max() - 1);
    const int loci = reader.whole("the number of loci", 1, std::numeric_limits<int>::max());
    // Loci are read one by one; a count beyond what the file can hold ends at its end.
    for (int l = 0; l < loci; ++l) {
        data.loci.emplace_back();
        read_distances(reader, l, data.loci.back());
    }
    for (int l = 0; l < loci; ++l)
        read_counts(reader, l, data.candidates + 1, data.loci[static_cast<std::size_t>(l)]);
    return data;
}

std::string default_key_path(const std::string& data_file)
{
    const std::size_t slash = data_file.find_last_of('/');
    const std::size_t dot = data_file.find_last_of('.');
    const bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (has_extension ? data_file.substr(0, dot) : data_file) + ".haplotypes.tsv";
}

std::vector<std::string> read_key_names(const std::string& path, int populations)
{
    std::ifstream key(path);
    if (!key)
        throw RunError("cannot open the key file " + quoted(path));
    std::string line;
    while (std::getline(key, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields = split_tabs(line);
        if (fields.size() < 3 || fields[0] != "locus")
            break;
        fields.erase(fields.begin(), fields.begin() + 3);
        if (static_cast<int>(fields.size()) != populations)
            throw RunError("the key file " + quoted(path) + " names " + std::to_string(fields.size()) +
                           " populations, but the data file holds " + std::to_string(populations) +
                           " (the hybrid and " + std::to_string(populations - 1) + " candidates)");
        return fields;
    }
    throw RunError("the key file " + quoted(path) +
                   " has no column header \"locus, index, haplotype\" and the populations' names");
}

std::vector<std::string> numbered_names(int candidates)
{
    std::vector<std::string> names{"hybrid"};
    for (int c = 1; c <= candidates; ++c)
        names.push_back(std::to_string(c));
    return names;
}

void check_copies(const ScanData& data, const std::vector<int>& candidate_rows, const std::string& path)
{
    for (std::size_t l = 0; l < data.loci.size(); ++l) {
        const ScanLocus& locus = data.loci[l];
        const auto copies = [&](int row) {
            std::int64_t sum = 0;
            for (int h = 0; h < locus.haplotypes; ++h)
                sum += locus.count(row, h);
            return sum;
        };
        const auto refuse = [&](int row, std::int64_t held, int needed) {
            throw RunError("data file " + quoted(path) + ": at " + locus_text(static_cast<int>(l)) + " " +
                           (row == 0 ? "the hybrid " : "the candidate ") + quoted(data.names[row]) + " holds " +
                           std::to_string(held) + (held == 1 ? " copy" : " copies") + "; at least " +
                           std::to_string(needed) + " needed to form its mean coalescence times");
        };
        if (copies(0) < 1)
            refuse(0, copies(0), 1);
        for (int row : candidate_rows)
            if (copies(row) < 2)
                refuse(row, copies(row), 2);
    }
}

}  // namespace scan
