#include "text_input.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "errors.h"

namespace prepare {

LineReader::LineReader(const std::string& file) : file_(file), in_(file)
{
    if (!in_)
        throw DataError("cannot open " + quoted(file));
    // A failure inside the stream (memory that runs out while a line grows, as
    // much as a read error) is thrown, not only noted: memory running out is
    // then reported as such, not as a file that could not be read.
    in_.exceptions(std::ios::badbit);
}

bool LineReader::next(std::string& line)
{
    bool got_line = false;
    try {
        got_line = static_cast<bool>(std::getline(in_, line));
    } catch (const std::ios_base::failure&) {
        throw DataError("reading " + quoted(file_) + " failed after line " + std::to_string(line_number_));
    }
    if (!got_line)
        return false;
    ++line_number_;
    // Editors on some systems begin a UTF-8 text with a byte-order mark; it is
    // no part of the first field.
    if (line_number_ == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
        line.erase(0, 3);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

std::string LineReader::here(long column) const
{
    return at_line(file_, line_number_, column);
}

std::vector<std::string> split_on(const std::string& line, char separator)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = line.find(separator, start);
        fields.push_back(line.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return fields;
        start = end + 1;
    }
}

std::vector<std::string> split_on_blanks(const std::string& line)
{
    std::vector<std::string> tokens;
    std::string token;
    for (char c : line) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!token.empty())
                tokens.push_back(token);
            token.clear();
        } else {
            token += c;
        }
    }
    if (!token.empty())
        tokens.push_back(token);
    return tokens;
}

std::string trimmed(const std::string& text)
{
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    const auto first = std::find_if_not(text.begin(), text.end(), blank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), blank).base();
    return first < last ? std::string(first, last) : std::string();
}

std::string upper_case(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool is_blank_or_comment(const std::string& line)
{
    const std::string text = trimmed(line);
    return text.empty() || text[0] == '#';
}

std::int64_t parse_copies(const std::string& token, const std::string& place, const std::string& what)
{
    const bool digits_only = !token.empty() && std::all_of(token.begin(), token.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
    errno = 0;
    const long long value = digits_only ? std::strtoll(token.c_str(), nullptr, 10) : 0;
    if (!digits_only || errno == ERANGE)
        throw DataError(place + "expected " + what + " (a whole number of 0 or more), found " + quoted(token));
    return value;
}

double parse_real(const std::string& token, const std::string& place, const std::string& what)
{
    char* end = nullptr;
    const double value = token.empty() ? 0 : std::strtod(token.c_str(), &end);
    if (token.empty() || *end != '\0' || !std::isfinite(value))
        throw DataError(place + "expected " + what + " (a number), found " + quoted(token));
    return value;
}

double parse_positive(const std::string& token, const std::string& place, const std::string& what)
{
    const double value = parse_real(token, place, what);
    if (value <= 0)
        throw DataError(place + "expected " + what + " (a number greater than 0), found " + quoted(token));
    return value;
}

bool fits_data_file(double value)
{
    const double magnitude = std::fabs(value);
    return magnitude == 0 || (magnitude >= std::numeric_limits<float>::min() &&
                              magnitude <= std::numeric_limits<float>::max());
}

double parse_repeat_length(const std::string& token, const std::string& place)
{
    char* end = nullptr;
    const double value = token.empty() ? 0 : std::strtod(token.c_str(), &end);
    if (token.empty() || *end != '\0' || !(value > 0) || !fits_data_file(value))
        throw DataError(place + "expected a repeat length in base pairs (a number greater than 0, at most 3.4e+38 "
                                "and at least 1.2e-38), found " + quoted(token));
    return value;
}

std::string locus_name_of(const std::string& path, const std::vector<std::string>& extensions)
{
    std::string name = path.substr(path.find_last_of('/') == std::string::npos ? 0 : path.find_last_of('/') + 1);
    for (const std::string& extension : extensions) {
        const bool ends_with = name.size() > extension.size() &&
                               upper_case(name.substr(name.size() - extension.size())) == upper_case(extension);
        if (ends_with)
            name.erase(name.size() - extension.size());
    }
    return name;
}

void read_two_columns(const std::string& file, const std::string& expected,
                      const std::function<void(const std::string&, const std::string&, const std::string&)>& take)
{
    LineReader reader(file);
    std::string line;
    while (reader.next(line)) {
        if (is_blank_or_comment(line))
            continue;
        const std::vector<std::string> fields = split_on(line, '\t');
        if (fields.size() < 2 || trimmed(fields[0]).empty() || trimmed(fields[1]).empty())
            throw DataError(reader.here() + "expected " + expected + ", found " + quoted(line));
        take(trimmed(fields[0]), trimmed(fields[1]), reader.here());
    }
}

PopulationMap read_population_map(const std::string& file)
{
    PopulationMap map;
    map.file = file;
    read_two_columns(file, "a name, a tab and a population",
                     [&map](const std::string& name, const std::string& population, const std::string& place) {
                         const auto [entry, added] = map.population_of.emplace(name, population);
                         if (!added && entry->second != population)
                             throw DataError(place + quoted(name) + " is mapped to " + quoted(population) +
                                             " after being mapped to " + quoted(entry->second));
                         if (std::find(map.populations.begin(), map.populations.end(), population) ==
                             map.populations.end())
                             map.populations.push_back(population);
                     });
    return map;
}

}  // namespace prepare
