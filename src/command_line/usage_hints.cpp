#include "usage_hints.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "quoted_text.h"

namespace {

constexpr std::size_t bytes_looked_at = 65536;

// The first bytes of a regular file; nothing of a pipe or a device, whose bytes
// a look would take from the run.
std::string beginning_of(const std::string& path)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return "";
    std::ifstream file(path, std::ios::binary);
    std::string text(bytes_looked_at, '\0');
    file.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(file.gcount()));
    return text;
}

std::string lower_case(std::string text)
{
    for (char& ch : text)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return text;
}

bool first_word_is_a_number(const std::string& text)
{
    static const std::string byte_order_mark = "\xEF\xBB\xBF";
    std::istringstream words(text.compare(0, 3, byte_order_mark) == 0 ? text.substr(3) : text);
    std::string word;
    if (!(words >> word))
        return false;
    char* end = nullptr;
    std::strtod(word.c_str(), &end);
    return end != word.c_str();
}

// Genepop: a title line, the loci, then blocks that each begin with a line
// "Pop" (any case).
bool has_a_pop_line(const std::string& text)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto first = line.find_first_not_of(" \t\r");
        const auto last = line.find_last_not_of(" \t\r");
        if (first != std::string::npos && lower_case(line.substr(first, last - first + 1)) == "pop")
            return true;
    }
    return false;
}

// The kind of file and the corvane-prepare options that convert it.
struct Conversion {
    const char* kind;
    const char* options;
    const char* note;  // "" or what to know besides
};

const Conversion* conversion_of(const std::string& text)
{
    static const Conversion compressed{"a compressed file (gzip or BGZF)", "--vcf FILE --regions BED --populations MAP",
                                       " (a VCF or BCF; for compressed FASTA, --fasta FILE --populations MAP)"};
    static const Conversion vcf{"a VCF file", "--vcf FILE --regions BED --populations MAP", ""};
    static const Conversion bcf{"a BCF file", "--vcf FILE --regions BED --populations MAP", ""};
    static const Conversion fasta{"a FASTA file", "--fasta FILE --populations MAP", " (--fasta once per locus)"};
    static const Conversion arlequin{"an Arlequin project", "--arlequin FILE", " (--arlequin once per locus)"};
    static const Conversion genepop{"a Genepop file", "--genepop FILE", ""};
    if (text.compare(0, 2, "\x1f\x8b") == 0)
        return &compressed;
    if (text.compare(0, 3, "BCF") == 0)
        return &bcf;
    if (text.compare(0, 16, "##fileformat=VCF") == 0)
        return &vcf;
    if (first_word_is_a_number(text))
        return nullptr;
    const std::string lower = lower_case(text);
    if (lower.find("[profile]") != std::string::npos)
        return &arlequin;
    if (text.find_first_not_of(" \t\r\n") != std::string::npos && text[text.find_first_not_of(" \t\r\n")] == '>')
        return &fasta;
    if (has_a_pop_line(text))
        return &genepop;
    return nullptr;
}

// The number of single-character edits between two words.
std::size_t edit_distance(const std::string& a, const std::string& b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::string foreign_format_advice(const std::string& path)
{
    const Conversion* conversion = conversion_of(beginning_of(path));
    if (!conversion)
        return "";
    return quoted(path) + " is " + conversion->kind + ", not a corvane data file; convert it first with " +
           "corvane-prepare " + conversion->options +
           " --hybrid NAME --parents NAME,NAME -o DATA_FILE" + conversion->note + ", then run corvane on DATA_FILE";
}

std::string closest_option(const std::string& unknown, const std::vector<std::string>& known)
{
    std::string best;
    std::size_t best_distance = 3;  // more edits than this is another word
    for (const std::string& option : known) {
        const std::size_t distance = edit_distance(unknown, option);
        if (distance < best_distance) {
            best = option;
            best_distance = distance;
        }
    }
    return best;
}
