#ifndef CORVANE_PREPARE_TEXT_INPUT_H
#define CORVANE_PREPARE_TEXT_INPUT_H

// Line-by-line reading of the plain-text inputs (Genepop, tables, Arlequin,
// population maps, BED regions, repeat lengths), with the line number every
// message needs, and the small parsers they share.

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace prepare {

class LineReader {
public:
    // Opens the file or throws a DataError naming it.
    explicit LineReader(const std::string& file);
    // The next line without its line end (a '\r' before it is dropped); false at the end.
    bool next(std::string& line);
    long line_number() const { return line_number_; }
    const std::string& file() const { return file_; }
    // at_line() for the current line.
    std::string here(long column = 0) const;

private:
    std::string file_;
    std::ifstream in_;
    long line_number_ = 0;
};

std::vector<std::string> split_on(const std::string& line, char separator);
std::vector<std::string> split_on_blanks(const std::string& line);
std::string trimmed(const std::string& text);
std::string upper_case(std::string text);
// A line that holds nothing to read: empty, blank, or a comment starting with '#'.
bool is_blank_or_comment(const std::string& line);

// A whole number of copies (0 or more), or a DataError at `place` naming `what`.
std::int64_t parse_copies(const std::string& token, const std::string& place, const std::string& what);
// A number greater than 0, or a DataError at `place` naming `what`.
double parse_positive(const std::string& token, const std::string& place, const std::string& what);
// True for 0 and for magnitudes from the smallest normal to the largest finite
// single-precision value: the real numbers corvane reads back as written
// (within its precision) rather than as 0, a subnormal or the largest value.
bool fits_data_file(double value);
// A repeat length in base pairs: a number greater than 0 that fits a data file,
// or a DataError at `place`.
double parse_repeat_length(const std::string& token, const std::string& place);
// A finite decimal number, or a DataError at `place` naming `what`.
double parse_real(const std::string& token, const std::string& place, const std::string& what);

// The file's name without its folder and without the given extensions, tried in
// turn (".gz" first, then ".fasta" ...): the name of the locus a file holds.
std::string locus_name_of(const std::string& path, const std::vector<std::string>& extensions);

// Calls take(first, second, place) for every line of a tab-separated file of two
// columns (more are ignored); blank lines and '#' comments are skipped, and a line
// without two filled columns is a DataError that says what was `expected`.
void read_two_columns(const std::string& file, const std::string& expected,
                      const std::function<void(const std::string&, const std::string&, const std::string&)>& take);

// A tab-separated map of two columns, name then population (sequence, individual or
// sample names); blank lines and '#' comments are skipped. The populations in
// order of first appearance come with it.
struct PopulationMap {
    std::unordered_map<std::string, std::string> population_of;
    std::vector<std::string> populations;
    std::string file;
};
PopulationMap read_population_map(const std::string& file);

}  // namespace prepare

#endif
