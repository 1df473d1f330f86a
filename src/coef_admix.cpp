#include "COEF_ADMIX.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <new>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console_dialogue.h"
#include "data_file_tokens.h"
#include "number_format.h"
#include "output_folder.h"
#include "quoted_text.h"
#include "whole_number.h"

// ---------------------------------------------------------------------------
// The generator

namespace corvane {
namespace {
std::uint32_t generator_state = 1;
}

void srand(std::uint32_t seed)
{
    generator_state = seed;
}

int rand()
{
    generator_state = generator_state * 22695477u + 1u;
    return static_cast<int>((generator_state >> 16) & 32767u);
}
}  // namespace corvane

std::string error_line(const std::string& text)
{
    return "Error: " + text + "\n";
}

namespace {

// Everything the engine prints as a real number goes through the one formatter.
struct Real {
    double value;
};
std::ostream& operator<<(std::ostream& out, Real real)
{
    return out << format_real(real.value);
}

// ---------------------------------------------------------------------------
// Tokens of the data file

bool is_digit(char ch)
{
    return ch >= '0' && ch <= '9';
}

// A decimal number with optional sign, point and exponent, and nothing else:
// no infinity, no not-a-number, no hexadecimal floating notation.
bool is_decimal_number(const std::string& token)
{
    std::size_t pos = 0;
    if (pos < token.size() && (token[pos] == '+' || token[pos] == '-'))
        ++pos;
    std::size_t mantissa_digits = 0;
    while (pos < token.size() && is_digit(token[pos])) { ++pos; ++mantissa_digits; }
    if (pos < token.size() && token[pos] == '.') {
        ++pos;
        while (pos < token.size() && is_digit(token[pos])) { ++pos; ++mantissa_digits; }
    }
    if (mantissa_digits == 0)
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

// Doubtful things found in a data file that are read all the same: each kind
// shows its first few findings, one warning line each, then how many more.
class DataFileFindings {
public:
    explicit DataFileFindings(std::string file_name) : _file_name(std::move(file_name)) {}

    // `more` says what the hidden findings of this kind are, after their number
    // ("sample sizes differ from the sum of their counts").
    void add(const std::string& more, const std::string& finding)
    {
        Kind* kind = nullptr;
        for (Kind& known : _kinds)
            if (known.more == more)
                kind = &known;
        if (!kind) {
            _kinds.push_back(Kind{more, {}, 0});
            kind = &_kinds.back();
        }
        if (kind->shown.size() < shown_per_kind)
            kind->shown.push_back(finding);
        else
            ++kind->hidden;
    }

    void write(std::ostream& out) const
    {
        const std::string prefix = "Warning: data file " + quoted(_file_name) + ": ";
        for (const Kind& kind : _kinds) {
            for (const std::string& finding : kind.shown)
                out << prefix << finding << std::endl;
            if (kind.hidden > 0)
                out << prefix << kind.hidden << " more " << kind.more << std::endl;
        }
    }

private:
    static constexpr std::size_t shown_per_kind = 3;
    struct Kind {
        std::string more;
        std::vector<std::string> shown;
        long long hidden;
    };
    std::string _file_name;
    std::vector<Kind> _kinds;
};

// A whole-number token with a leading zero that the base detection reads as
// octal to a value its decimal reading would not give ("010" is 8, "07" is 7).
bool octal_differs_from_decimal(const std::string& token, int octal_value)
{
    std::size_t digits = token[0] == '+' || token[0] == '-' ? 1 : 0;
    if (token.size() < digits + 2 || token[digits] != '0' || token[digits + 1] == 'x' || token[digits + 1] == 'X')
        return false;
    long long decimal = 0;
    for (std::size_t i = digits; i < token.size(); ++i)
        decimal = decimal * 10 + (token[i] - '0');
    if (token[0] == '-')
        decimal = -decimal;
    return decimal != octal_value;
}

// A distance that is read as typed but is probably a mistake: a non-zero
// distance of a haplotype to itself (the matrix typed as its upper triangle
// puts values on the diagonal) or a negative one.
void note_doubtful_distance(DataFileFindings& findings, int locus, int j, int k, float distance)
{
    const std::string at = "at locus " + std::to_string(locus) + " ";
    if (j == k && distance != 0.0f)
        findings.add("haplotypes have a distance to themselves other than 0",
                     at + "the distance of haplotype " + std::to_string(j) + " to itself is " + format_real(distance) +
                         ", not 0 (was the matrix typed as its upper triangle instead of the lower one?)");
    if (distance < 0.0f)
        findings.add("distances are negative", at + "the distance between haplotypes " + std::to_string(j) +
                                                   " and " + std::to_string(k) + " is negative (" +
                                                   format_real(distance) + ")");
}

// A sample size that is not the sum of its counts is kept as typed (it only
// matters to the bootstrap, which draws that many copies), but it usually means
// a count or a size was mistyped, or the counts were typed one row per
// population instead of one row per haplotype.
void note_sizes_that_differ_from_counts(DataFileFindings& findings, int locus, int populations, int haplotypes,
                                        const int* sizes, int* const* counts)
{
    for (int p = 0; p < populations; ++p) {
        std::int64_t sum = 0;
        for (int h = 0; h < haplotypes; ++h)
            sum += counts[p][h];
        if (sum != sizes[p])
            findings.add("sample sizes differ from the sum of their counts",
                         "at locus " + std::to_string(locus) + " the sample size of population " +
                             std::to_string(p) + " (" + std::to_string(sizes[p]) +
                             ") differs from the sum of its counts (" + std::to_string(sum) + ")");
    }
}

// Reads the data file's tokens into typed values. On the first problem it keeps
// one message that names the file, the value that was expected and the token
// found, and every later read fails.
class DataFileReader {
public:
    DataFileReader(const std::string& file_name, std::string contents)
        : _file_name(file_name), _tokens(std::move(contents)), _findings(file_name) {}

    const std::string& message() const { return _message; }
    DataFileFindings& findings() { return _findings; }

    template <class Describe>
    bool label(Describe what)
    {
        return take(what);
    }

    template <class Describe>
    bool real(float& target, Describe what)
    {
        if (!take(what))
            return false;
        if (!is_decimal_number(_token))
            return fail("expected " + what() + " (a decimal number), found " + quoted(_token));
        float value = std::strtof(_token.c_str(), nullptr);
        // A magnitude beyond the largest float is stored as the largest float.
        if (std::isinf(value))
            value = std::copysign(std::numeric_limits<float>::max(), value);
        target = value;
        return true;
    }

    template <class Describe>
    bool whole(int& target, Describe what)
    {
        if (!take(what))
            return false;
        int value = 0;
        const WholeNumberScan scan = parse_whole_token(_token, value);
        if (scan == WholeNumberScan::not_a_number)
            return fail("expected " + what() + " (a whole number), found " + quoted(_token));
        if (scan == WholeNumberScan::out_of_range)
            return fail(what() + " is outside the range of 32-bit whole numbers: " + quoted(_token));
        if (octal_differs_from_decimal(_token, value))
            _findings.add("whole numbers with a leading 0 are read as octal numbers",
                          what() + " is written " + quoted(_token) + ", read as the octal number " +
                              std::to_string(value) + " (a leading 0 makes a whole number octal)");
        target = value;
        return true;
    }

    // A count or a size: a whole number that is not negative.
    template <class Describe>
    bool count(int& target, Describe what)
    {
        int value = 0;
        if (!whole(value, what))
            return false;
        if (value < 0)
            return fail(what() + " must not be negative, found " + quoted(_token));
        target = value;
        return true;
    }

    bool fail(const std::string& text)
    {
        if (_message.empty())
            _message = error_line("data file " + quoted(_file_name) + ": " + text);
        return false;
    }

private:
    template <class Describe>
    bool take(Describe what)
    {
        if (!_message.empty())
            return false;
        if (!_tokens.next(_token))
            return fail("the file ends before " + what());
        return true;
    }

    std::string _file_name;
    DataFileTokens _tokens;
    std::string _token;
    std::string _message;
    DataFileFindings _findings;
};

// "1 locus", "3 loci": a count with its noun in the right number.
std::string counted(long long count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string locus_text(int locus)
{
    return "locus " + std::to_string(locus);
}

std::string population_text(int population)
{
    return population == 0 ? "population 0 (the hybrid)" : "population " + std::to_string(population);
}

// The machine's physical memory in bytes, or 0 when it cannot be told.
std::uint64_t physical_memory_bytes()
{
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kibibytes = 0;
    std::string unit;
    while (meminfo >> key >> kibibytes >> unit) {
        if (key == "MemTotal:")
            return kibibytes * 1024;
    }
    return 0;
}

// The bytes the main storage takes for P parental populations and L loci, each
// allocation counted with a small bookkeeping overhead; in long double so that
// absurd sizes do not wrap around.
long double main_storage_bytes(long double P, long double L, long double M)
{
    const long double overhead = 16;
    const long double per_locus = (8 * M + overhead)               // distance row pointers
                                  + M * (4 * M + overhead)          // distance rows
                                  + (4 * (P + 1) + overhead)        // sample sizes
                                  + (8 * (P + 1) + overhead)        // count row pointers
                                  + (P + 1) * (4 * M + overhead);   // count rows
    const long double per_record = 3 * (4 * P + overhead) + 2 * (8 * P + overhead)
                                   + 2 * P * (4 * P + overhead) + 4 * (8 * L + overhead);
    return L * per_locus + per_record;
}

std::string megabytes_text(long double bytes)
{
    std::ostringstream text;
    text << format_real(static_cast<double>(bytes / 1e6L)) << " MB";
    return text.str();
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and the main storage

Coef_Admixture::Coef_Admixture()
    : _own_console_in(std::make_unique<ConsoleInput>(std::cin)),
      _own_dialogue(std::make_unique<ConsoleDialogue>(*_own_console_in, std::cout)),
      _dialogue(_own_dialogue.get())
{
    MAX_NB_ALLELES = 1000;
    open_log();
}

Coef_Admixture::Coef_Admixture(ConsoleInput& console_in, std::ostream& console_out)
    : _own_dialogue(std::make_unique<ConsoleDialogue>(console_in, console_out)), _dialogue(_own_dialogue.get())
{
    MAX_NB_ALLELES = 1000;
    open_log();
}

Coef_Admixture::Coef_Admixture(Dialogue& dialogue, OutputFolder& outputs) : _dialogue(&dialogue), _outputs(&outputs)
{
    MAX_NB_ALLELES = 1000;
}

Coef_Admixture::~Coef_Admixture()
{
    log_file.close();
}

void Coef_Admixture::refuse(const std::string& message_lines)
{
    _error_message = message_lines;
}

std::string Coef_Admixture::output_path(const char* file_name) const
{
    return _outputs ? _outputs->path_of(file_name) : file_name;
}

// Creates or empties the log; from then on it is this run's.
bool Coef_Admixture::open_log()
{
    if (log_file.is_open())
        return true;
    log_file.open(output_path(OutputFolder::log_name), std::ios::out | std::ios::trunc);
    if (_outputs && log_file.is_open())
        _outputs->log_taken();
    return log_file.is_open();
}

// Creates the main arrays, rows of pointers first and then each row, in the
// order in which de_allocate_space walks them. Pointer arrays start out null, so
// that storage half created when memory runs out can still be released; the
// result is then 0.
int Coef_Admixture::allocate_space()
{
    const int P = _nb_parent_pops;
    const int L = _nb_loci;
    const int M = MAX_NB_ALLELES;
    try {
        _num_alleles_loci = new int[L];
        _dist_haplotypes = new float**[L]();
        _sample_sizes = new int*[L]();
        _freq_haplotypes = new int**[L]();
        for (int l = 0; l < L; ++l) {
            _dist_haplotypes[l] = new float*[M]();
            for (int h = 0; h < M; ++h)
                _dist_haplotypes[l][h] = new float[M];
            _sample_sizes[l] = new int[P + 1];
            _freq_haplotypes[l] = new int*[P + 1]();
            for (int p = 0; p <= P; ++p)
                _freq_haplotypes[l][p] = new int[M];
        }
        _hybrid_parental_coal_times = new float[P];
        _left_hand_side_vector = new float[P];
        _admixture_coefficients = new float[P];
        _parental_coal_times = new float*[P]();
        _right_hand_side_matrix = new float*[P]();
        for (int p = 0; p < P; ++p)
            _parental_coal_times[p] = new float[P];
        for (int p = 0; p < P; ++p)
            _right_hand_side_matrix[p] = new float[P];
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return 1;
}

int Coef_Admixture::de_allocate_space()
{
    const int P = _nb_parent_pops;
    const int L = _nb_loci;
    const int M = MAX_NB_ALLELES;
    delete[] _num_alleles_loci;
    _num_alleles_loci = nullptr;
    if (_dist_haplotypes) {
        for (int l = 0; l < L; ++l) {
            if (!_dist_haplotypes[l])
                continue;
            for (int h = 0; h < M; ++h)
                delete[] _dist_haplotypes[l][h];
            delete[] _dist_haplotypes[l];
        }
        delete[] _dist_haplotypes;
        _dist_haplotypes = nullptr;
    }
    if (_sample_sizes) {
        for (int l = 0; l < L; ++l)
            delete[] _sample_sizes[l];
        delete[] _sample_sizes;
        _sample_sizes = nullptr;
    }
    if (_freq_haplotypes) {
        for (int l = 0; l < L; ++l) {
            if (!_freq_haplotypes[l])
                continue;
            for (int p = 0; p <= P; ++p)
                delete[] _freq_haplotypes[l][p];
            delete[] _freq_haplotypes[l];
        }
        delete[] _freq_haplotypes;
        _freq_haplotypes = nullptr;
    }
    delete[] _hybrid_parental_coal_times;
    _hybrid_parental_coal_times = nullptr;
    delete[] _left_hand_side_vector;
    _left_hand_side_vector = nullptr;
    delete[] _admixture_coefficients;
    _admixture_coefficients = nullptr;
    for (float*** matrix : {&_parental_coal_times, &_right_hand_side_matrix}) {
        if (!*matrix)
            continue;
        for (int p = 0; p < P; ++p)
            delete[] (*matrix)[p];
        delete[] *matrix;
        *matrix = nullptr;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// The data file

// Reads the whole data file into memory, so that it is closed before anything
// is parsed. Only a regular file is read: a named pipe, a device or a socket
// could block the run forever or never end, so the file is opened without
// waiting and refused when it is not a file on disk.
int Coef_Admixture::read_whole_data_file(const std::string& name, std::string& contents)
{
    const int file = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file < 0) {
        refuse(error_line("cannot open the data file " + quoted(name)));
        return 0;
    }
    struct stat status {};
    const bool known = ::fstat(file, &status) == 0;
    if (known && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) {
        ::close(file);
        refuse(error_line("the data file " + quoted(name) +
                          " is not a regular file (a named pipe, a device or a socket); give the name of a file "
                          "on disk"));
        return 0;
    }
    bool failed = !known || S_ISDIR(status.st_mode);
    try {
        char chunk[65536];
        while (!failed) {
            const ssize_t got = ::read(file, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                failed = true;
            else if (got == 0)
                break;
            else
                contents.append(chunk, static_cast<std::size_t>(got));
        }
    } catch (const std::bad_alloc&) {
        ::close(file);
        contents = std::string();
        refuse(error_line("the data file " + quoted(name) + " is too large to be read"));
        return 0;
    }
    ::close(file);
    if (failed) {
        refuse(error_line("cannot read the data file " + quoted(name) + ": it is a folder or its reading failed"));
        return 0;
    }
    // A byte-order mark that some editors put at the start of a text file is
    // not part of the data.
    static const std::string byte_order_mark = "\xEF\xBB\xBF";
    if (contents.compare(0, byte_order_mark.size(), byte_order_mark) == 0)
        contents.erase(0, byte_order_mark.size());
    return 1;
}

int Coef_Admixture::read_data_in_file()
{
    std::string name_data_file_admix;
    const bool named = _dialogue->data_file_name(name_data_file_admix);
    if (named && _outputs) {
        // Checked before the log is emptied: a data file that is one of the
        // output files stays byte for byte as it was.
        const std::string output_file = _outputs->output_file_matching(name_data_file_admix);
        if (!output_file.empty()) {
            refuse(data_file_is_output_message(name_data_file_admix, output_file, *_outputs));
            return 0;
        }
    }
    if (!open_log()) {
        refuse(error_line("the log file \"log_file_admix.txt\" could not be created in this folder"));
        return 0;
    }
    if (!named) {
        refuse(error_line("no data file name was given: the console input ended"));
        return 0;
    }
    _data_file_name = name_data_file_admix;
    if (name_data_file_admix.find('\0') != std::string::npos) {
        refuse(error_line("the data file name " + quoted(name_data_file_admix) +
                          " holds a NUL byte, which no file name can hold"));
        return 0;
    }

    std::string contents;
    if (!read_whole_data_file(name_data_file_admix, contents))
        return 0;

    DataFileReader reader(name_data_file_admix, std::move(contents));
    // Whatever way the reading ends, what was found doubtful so far is said.
    struct WarnWhenDone {
        DataFileReader& reader;
        std::ostream& warnings;
        ~WarnWhenDone() { reader.findings().write(warnings); }
    } warn_when_done{reader, _dialogue->warnings()};
    if (!reader.real(_time_to_admix_event, [] { return std::string("the time since the admixture event"); }) ||
        !reader.real(_mutation_rate_per_year, [] { return std::string("the mutation rate per year"); }) ||
        !reader.whole(_nb_parent_pops, [] { return std::string("the number of parental populations"); }) ||
        !reader.whole(_nb_loci, [] { return std::string("the number of loci"); })) {
        refuse(reader.message());
        return 0;
    }
    const int P = _nb_parent_pops;
    const int L = _nb_loci;
    if (P < 2) {
        reader.fail("the number of parental populations is " + std::to_string(P) +
                    "; at least 2 are needed to estimate admixture proportions");
        refuse(reader.message());
        return 0;
    }
    if (L < 1) {
        reader.fail("the number of loci is " + std::to_string(L) + "; at least 1 is needed");
        refuse(reader.message());
        return 0;
    }
    const long double needed = main_storage_bytes(P, L, MAX_NB_ALLELES);
    const std::uint64_t memory = physical_memory_bytes();
    if (memory > 0 && needed > static_cast<long double>(memory)) {
        reader.fail(counted(L, "locus", "loci") + " and " + std::to_string(P) + " parental populations need " +
                    megabytes_text(needed) + " of storage, more than this machine's memory (" +
                    megabytes_text(memory) + ")");
        refuse(reader.message());
        return 0;
    }
    if (!allocate_space()) {
        reader.fail("not enough memory for the storage of " + counted(L, "locus", "loci") + " and " +
                    std::to_string(P) + " parental populations (" + megabytes_text(needed) + ")");
        refuse(reader.message());
        return 0;
    }

    // Distance section: per locus a label, the number of haplotypes and the lower
    // triangle of the distance matrix with its diagonal, row by row.
    for (int i = 0; i < L; ++i) {
        if (!reader.label([&] { return "the label of " + locus_text(i) + " in the distance section"; }) ||
            !reader.whole(_num_alleles_loci[i], [&] { return "the number of haplotypes of " + locus_text(i); })) {
            refuse(reader.message());
            return 0;
        }
        const int haplotypes = _num_alleles_loci[i];
        if (haplotypes < 0 || haplotypes > MAX_NB_ALLELES) {
            _num_alleles_loci[i] = 0;  // nothing beyond the rows is ever touched
            reader.fail("the number of haplotypes of " + locus_text(i) + " is " + std::to_string(haplotypes) +
                        "; it must lie between 0 and " + std::to_string(MAX_NB_ALLELES));
            refuse(reader.message());
            return 0;
        }
        for (int j = 0; j < haplotypes; ++j) {
            for (int k = 0; k <= j; ++k) {
                float& distance = _dist_haplotypes[i][j][k];
                if (!reader.real(distance, [&] {
                        return "the distance between haplotypes " + std::to_string(j) + " and " +
                               std::to_string(k) + " of " + locus_text(i);
                    })) {
                    refuse(reader.message());
                    return 0;
                }
                _dist_haplotypes[i][k][j] = distance;
                note_doubtful_distance(reader.findings(), i, j, k, distance);
            }
        }
    }

    // Count section: per locus a label, the P+1 sample sizes (hybrid first) and
    // one row of P+1 counts per haplotype.
    for (int i = 0; i < L; ++i) {
        if (!reader.label([&] { return "the label of " + locus_text(i) + " in the count section"; })) {
            refuse(reader.message());
            return 0;
        }
        for (int p = 0; p <= P; ++p) {
            if (!reader.count(_sample_sizes[i][p], [&] {
                    return "the sample size of " + population_text(p) + " at " + locus_text(i);
                })) {
                refuse(reader.message());
                return 0;
            }
        }
        for (int h = 0; h < _num_alleles_loci[i]; ++h) {
            for (int p = 0; p <= P; ++p) {
                if (!reader.count(_freq_haplotypes[i][p][h], [&] {
                        return "the count of haplotype " + std::to_string(h) + " of " + population_text(p) +
                               " at " + locus_text(i);
                    })) {
                    refuse(reader.message());
                    return 0;
                }
            }
        }
        note_sizes_that_differ_from_counts(reader.findings(), i, P + 1, _num_alleles_loci[i], _sample_sizes[i],
                                           _freq_haplotypes[i]);
    }

    char account_molecular = 'y';  // an answer that cannot be read keeps the distances
    _dialogue->divergence_answer(account_molecular);
    if (account_molecular == 'n' || account_molecular == 'N') {
        for (int i = 0; i < L; ++i)
            for (int j = 0; j < _num_alleles_loci[i]; ++j)
                for (int k = 0; k <= j; ++k)
                    _dist_haplotypes[i][j][k] = _dist_haplotypes[i][k][j] = (j == k) ? 0.0f : 1.0f;
    }
    write_data_echo();
    return 1;
}

void Coef_Admixture::write_data_echo()
{
    log_file << "-----" << std::endl;
    log_file << "Read from data file:" << std::endl;
    for (int i = 0; i < _nb_loci; ++i) {
        log_file << "Locus " << i << ":" << std::endl;
        for (int p = 0; p <= _nb_parent_pops; ++p) {
            log_file << "Population " << p << ": ";
            for (int h = 0; h < _num_alleles_loci[i]; ++h)
                log_file << _freq_haplotypes[i][p][h] << " ";
            log_file << std::endl;
        }
        log_file << "Distance matrix between haplotypes:" << std::endl;
        for (int j = 0; j < _num_alleles_loci[i]; ++j) {
            for (int k = 0; k <= j; ++k)
                log_file << Real{_dist_haplotypes[i][j][k]} << " ";
            log_file << std::endl;
        }
    }
}

// Every mean coalescence time needs pairs of haplotype copies: at each locus the
// hybrid sample must hold a copy and every parental sample two, or a mean would
// be a division by zero.
int Coef_Admixture::check_observed_pair_counts()
{
    for (int i = 0; i < _nb_loci; ++i) {
        for (int p = 0; p <= _nb_parent_pops; ++p) {
            std::int64_t copies = 0;
            for (int h = 0; h < _num_alleles_loci[i]; ++h)
                copies += _freq_haplotypes[i][p][h];
            const std::int64_t needed = p == 0 ? 1 : 2;
            if (copies >= needed)
                continue;
            const std::string who = p == 0 ? "the hybrid population (population 0)"
                                           : "parental population " + std::to_string(p);
            refuse(error_line("data file " + quoted(_data_file_name) + ": at " + locus_text(i) + " " + who +
                              " holds " + std::to_string(copies) + " haplotype " +
                              (copies == 1 ? "copy" : "copies") + "; at least " + std::to_string(needed) +
                              (needed == 1 ? " is" : " are") + " needed to form its mean coalescence times") +
                   "Corvane2_0 cannot estimate admixture proportions in this case\n");
            return 0;
        }
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Mean coalescence times
//
// Every stored value is a float and every expression is evaluated in long
// double (the x86-64 extended type) and rounded once when stored: the operands
// are widened explicitly, since C++ would otherwise evaluate float expressions
// in float.

namespace {

// Pairs of distinct copies among the copies of one haplotype in one sample,
// c(c-1)/2, evaluated as a real number held in a double and rounded half up.
// In 64 bits, so that no count a sample can hold overflows.
std::int64_t same_haplotype_pairs(std::int64_t copies)
{
    const double half_product = static_cast<double>(static_cast<long double>(copies - 1) * 0.5L *
                                                    static_cast<long double>(copies));
    const double whole = half_product - std::floor(half_product) < 0.5 ? std::floor(half_product)
                                                                       : std::ceil(half_product);
    return static_cast<std::int64_t>(whole);
}

// Adds `pairs` pairs of copies at `distance` to the sums of one population pair.
// A zero weight would leave both sums exactly as they are, so callers skip it.
inline void add_pairs(float& tot_diff, float& count_diff, float distance, std::int64_t pairs)
{
    tot_diff = static_cast<float>(static_cast<long double>(tot_diff) +
                                  static_cast<long double>(distance) * static_cast<long double>(pairs));
    count_diff = static_cast<float>(static_cast<long double>(count_diff) + static_cast<long double>(pairs));
}

// tot / count in extended precision; no pairs give no mean (not-a-number), which
// the callers never let happen but which can never be a division by zero.
inline long double mean_distance(float tot_diff, float count_diff)
{
    if (count_diff == 0.0f)
        return std::numeric_limits<long double>::quiet_NaN();
    return static_cast<long double>(tot_diff) / static_cast<long double>(count_diff);
}

}  // namespace

// The pair sums of one locus for every pair of populations (p, q), p <= q. Terms
// are added to each sum in the order of the haplotype pairs (x, y), x <= y; only
// haplotypes present in the samples concerned can give a pair, so the loops run
// over those alone.
void Coef_Admixture::accumulate_locus_pair_sums(int*** freq_hap, int locus)
{
    const int populations = _nb_parent_pops + 1;
    const int haplotypes = _num_alleles_loci[locus];
    float** distance = _dist_haplotypes[locus];
    int** counts = freq_hap[locus];

    _present_haplotypes.resize(populations);
    for (int p = 0; p < populations; ++p) {
        std::vector<int>& present = _present_haplotypes[p];
        present.clear();
        for (int x = 0; x < haplotypes; ++x)
            if (counts[p][x] != 0)
                present.push_back(x);
    }

    for (int p = 0; p < populations; ++p) {
        const int* cp = counts[p];
        const std::vector<int>& present = _present_haplotypes[p];
        float& tot_within = _tot_diff[p * populations + p];
        float& count_within = _count_diff[p * populations + p];
        for (std::size_t a = 0; a < present.size(); ++a) {
            const int x = present[a];
            const float* row = distance[x];
            const std::int64_t cx = cp[x];
            const std::int64_t same = same_haplotype_pairs(cx);
            if (same != 0)
                add_pairs(tot_within, count_within, row[x], same);
            for (std::size_t b = a + 1; b < present.size(); ++b) {
                const int y = present[b];
                add_pairs(tot_within, count_within, row[y], cx * cp[y]);
            }
        }

        for (int q = p + 1; q < populations; ++q) {
            const int* cq = counts[q];
            const std::vector<int>& other = _present_haplotypes[q];
            _merged_haplotypes.clear();
            std::set_union(present.begin(), present.end(), other.begin(), other.end(),
                           std::back_inserter(_merged_haplotypes));
            float& tot_between = _tot_diff[p * populations + q];
            float& count_between = _count_diff[p * populations + q];
            const std::vector<int>& merged = _merged_haplotypes;
            for (std::size_t a = 0; a < merged.size(); ++a) {
                const int x = merged[a];
                const float* row = distance[x];
                const std::int64_t cpx = cp[x];
                const std::int64_t cqx = cq[x];
                const std::int64_t same = cpx * cqx;
                if (same != 0)
                    add_pairs(tot_between, count_between, row[x], same);
                for (std::size_t b = a + 1; b < merged.size(); ++b) {
                    const int y = merged[b];
                    const std::int64_t pairs = cpx * cq[y] + static_cast<std::int64_t>(cp[y]) * cqx;
                    if (pairs != 0)
                        add_pairs(tot_between, count_between, row[y], pairs);
                }
            }
            _tot_diff[q * populations + p] = tot_between;
            _count_diff[q * populations + p] = count_between;
        }
    }
}

int Coef_Admixture::compute_coal_times(int*** freq_hap)
{
    const int n = _nb_parent_pops;
    const int populations = n + 1;
    float* H = _hybrid_parental_coal_times;
    float** P = _parental_coal_times;
    for (int k = 0; k < n; ++k)
        H[k] = 0.0f;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            P[i][j] = 0.0f;
    _tot_diff.resize(static_cast<std::size_t>(populations) * populations);
    _count_diff.resize(_tot_diff.size());
    std::fill(_tot_diff.begin(), _tot_diff.end(), 0.0f);
    std::fill(_count_diff.begin(), _count_diff.end(), 0.0f);

    for (int l = 0; l < _nb_loci; ++l) {
        std::fill(_tot_diff.begin(), _tot_diff.end(), 0.0f);
        std::fill(_count_diff.begin(), _count_diff.end(), 0.0f);
        accumulate_locus_pair_sums(freq_hap, l);
        for (int k = 0; k < n; ++k)
            H[k] = static_cast<float>(H[k] + mean_distance(_tot_diff[k + 1], _count_diff[k + 1]));
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                const std::size_t cell = static_cast<std::size_t>(i + 1) * populations + (j + 1);
                P[i][j] = static_cast<float>(P[i][j] + mean_distance(_tot_diff[cell], _count_diff[cell]));
            }
    }
    // Each locus weighs the same in the mean. Without loci there is no mean at all.
    const long double loci = _nb_loci;
    for (int k = 0; k < n; ++k)
        H[k] = _nb_loci > 0 ? static_cast<float>(H[k] / loci) : std::numeric_limits<float>::quiet_NaN();
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            P[i][j] = _nb_loci > 0 ? static_cast<float>(P[i][j] / loci) : std::numeric_limits<float>::quiet_NaN();

    write_coal_times_log();

    for (int i = 1; i < n; ++i)
        for (int j = 0; j < i; ++j)
            if (P[i][j] == 0.0f)
                return 0;
    return 1;
}

// The mean coalescence times of the loci a locus-bootstrap replicate drew, with
// the roundings compute_coal_times applies to a data file that holds those loci
// in the drawn order: per drawn locus each time becomes the float nearest to
// itself plus that locus's pair sum over its pair count, the totals are divided
// by L, and the log shows the pair sums of the last locus drawn. The pair sums
// were computed once from the observed counts, which a locus bootstrap never
// changes, so the replicate's estimate equals the plain estimate of those loci
// to the last bit.
int Coef_Admixture::compute_coal_times_of_drawn_loci()
{
    const int n = _nb_parent_pops;
    const int populations = n + 1;
    const std::size_t cells = static_cast<std::size_t>(populations) * populations;
    float* H = _hybrid_parental_coal_times;
    float** P = _parental_coal_times;
    for (int k = 0; k < n; ++k)
        H[k] = 0.0f;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            P[i][j] = 0.0f;
    for (const int locus : _drawn_loci) {
        const float* tot = &_locus_tot_diff[locus * cells];
        const float* count = &_locus_count_diff[locus * cells];
        for (int k = 0; k < n; ++k)
            H[k] = static_cast<float>(H[k] + mean_distance(tot[k + 1], count[k + 1]));
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) {
                const std::size_t cell = static_cast<std::size_t>(i + 1) * populations + (j + 1);
                P[i][j] = static_cast<float>(P[i][j] + mean_distance(tot[cell], count[cell]));
            }
    }
    const long double loci = static_cast<long double>(_drawn_loci.size());
    for (int k = 0; k < n; ++k)
        H[k] = static_cast<float>(H[k] / loci);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            P[i][j] = static_cast<float>(P[i][j] / loci);

    const std::size_t last = static_cast<std::size_t>(_drawn_loci.back()) * cells;
    std::copy_n(&_locus_tot_diff[last], cells, _tot_diff.begin());
    std::copy_n(&_locus_count_diff[last], cells, _count_diff.begin());
    write_coal_times_log();

    for (int i = 1; i < n; ++i)
        for (int j = 0; j < i; ++j)
            if (P[i][j] == 0.0f)
                return 0;
    return 1;
}

void Coef_Admixture::write_coal_times_log()
{
    const int n = _nb_parent_pops;
    const int populations = n + 1;
    log_file << "-----" << std::endl;
    log_file << "Time to admix event: " << Real{_time_to_admix_event} << std::endl;
    for (int k = 0; k < n; ++k)
        log_file << "Hybrid-parental " << k << ": " << "Tot_diff:" << Real{_tot_diff[k + 1]}
                 << " Count_diff:" << Real{_count_diff[k + 1]} << " Times:" << Real{_hybrid_parental_coal_times[k]}
                 << std::endl;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) {
            const std::size_t cell = static_cast<std::size_t>(i + 1) * populations + (j + 1);
            log_file << "Parentals " << j << "," << i << ": " << "Tot_diff:" << Real{_tot_diff[cell]}
                     << " Count_diff:" << Real{_count_diff[cell]} << " Times:" << Real{_parental_coal_times[i][j]}
                     << std::endl;
        }
}

void Coef_Admixture::add_time_to_admix_event()
{
    const long double admixture_term =
        static_cast<long double>(2.0f) * _time_to_admix_event * static_cast<long double>(_mutation_rate_per_year);
    for (int i = 0; i < _nb_parent_pops; ++i)
        _parental_coal_times[i][i] = static_cast<float>(_parental_coal_times[i][i] + admixture_term);
}

// ---------------------------------------------------------------------------
// The linear system and its solution

namespace {

// Sum over i of a[i] * b[i], in extended precision, in ascending order of i.
// Every product of two floats is exact in long double.
long double sum_of_products(int n, const float* const* a_rows, int a_col, const float* const* b_rows, int b_col)
{
    long double sum = 0;
    for (int i = 0; i < n; ++i)
        sum += static_cast<long double>(a_rows[i][a_col]) * static_cast<long double>(b_rows[i][b_col]);
    return sum;
}

long double sum_of_products(int n, const float* const* a_rows, int a_col, const float* b)
{
    long double sum = 0;
    for (int i = 0; i < n; ++i)
        sum += static_cast<long double>(a_rows[i][a_col]) * static_cast<long double>(b[i]);
    return sum;
}

// Sum over i of |a[i] * b[i]|: the size of the terms a coefficient is made of.
long double sum_of_magnitudes(int n, const float* const* a_rows, int a_col, const float* const* b_rows, int b_col)
{
    long double sum = 0;
    for (int i = 0; i < n; ++i)
        sum += std::fabs(static_cast<long double>(a_rows[i][a_col]) * static_cast<long double>(b_rows[i][b_col]));
    return sum;
}

bool usable_pivot(float pivot)
{
    return pivot != 0.0f && std::isfinite(pivot);
}

// The unit rounding of single precision, 2^-24: a stored float lies within this
// fraction of its own magnitude of the value it was rounded from.
constexpr long double float_rounding = 1.0L / 16777216.0L;

}  // namespace

// The normal equations of the least-squares fit of the hybrid's times by the
// parental times under the constraint that the proportions sum to one: equation
// j reads sum over k of M[j][k] mu_k = v[j] for j, k below the last parental
// population r, whose proportion is 1 minus the others.
void Coef_Admixture::compute_coefficients_of_linear_equations()
{
    const int n = _nb_parent_pops;
    const int r = n - 1;
    const float* const* P = _parental_coal_times;
    const float* H = _hybrid_parental_coal_times;
    float** M = _right_hand_side_matrix;
    float* v = _left_hand_side_vector;
    for (int i = 0; i < n; ++i) {
        v[i] = 0.0f;
        for (int j = 0; j < n; ++j)
            M[i][j] = 0.0f;
    }
    _coefficient_magnitudes.assign(static_cast<std::size_t>(r > 0 ? r : 0) * (r > 0 ? r : 0), 0.0L);
    for (int j = 0; j < r; ++j) {
        for (int k = 0; k < r; ++k) {
            long double& magnitude = _coefficient_magnitudes[static_cast<std::size_t>(j) * r + k];
            if (k == j) {
                magnitude = sum_of_magnitudes(n, P, j, P, j) + sum_of_magnitudes(n, P, r, P, r) +
                            2 * sum_of_magnitudes(n, P, r, P, j);
                const long double S1 = sum_of_products(n, P, j, P, j);
                const long double S2 = sum_of_products(n, P, r, P, r);
                const long double S3 = sum_of_products(n, P, r, P, j);
                M[j][j] = static_cast<float>(S1 + (S2 - static_cast<long double>(2.0f) * S3));
            } else {
                magnitude = sum_of_magnitudes(n, P, r, P, r) + sum_of_magnitudes(n, P, j, P, k) +
                            sum_of_magnitudes(n, P, j, P, r) + sum_of_magnitudes(n, P, r, P, k);
                const long double A = sum_of_products(n, P, r, P, r);
                const long double B = sum_of_products(n, P, j, P, k);
                const long double C = sum_of_products(n, P, j, P, r);
                const long double D = sum_of_products(n, P, r, P, k);
                M[j][k] = static_cast<float>((B - D) + (A - C));
            }
        }
        const long double Q1 = sum_of_products(n, P, r, P, r);
        const long double Q2 = sum_of_products(n, P, j, H);
        const long double Q3 = sum_of_products(n, P, r, H);
        const long double Q4 = sum_of_products(n, P, r, P, j);
        v[j] = static_cast<float>((Q2 - Q4) + (Q1 - Q3));
    }

    log_file << "-----" << std::endl;
    log_file << "Linear equations of admixture coefficients !" << std::endl;
    for (int j = 0; j < r; ++j) {
        for (int k = 0; k < r; ++k) {
            log_file << Real{M[j][k]} << "mu" << k + 1;
            if (k != r - 1)
                log_file << "+";
        }
        log_file << "=" << Real{v[j]} << std::endl;
    }
}

// Gaussian elimination without pivoting, then back substitution. A pivot that is
// zero or not finite cannot be divided by: the result is then 0 and x is left
// incomplete.
int Coef_Admixture::GaussNP(int n, float** a, float* b, float* x)
{
    return solve_without_pivoting(n, a, b, x, nullptr);
}

// The elimination proper. With the magnitudes of the terms every coefficient was
// formed from (row-major, n x n), a pivot is also refused when it is zero within
// the rounding of those terms.
//
// Why: each coefficient is a difference of sums of products of mean times, and
// the times are stored in single precision, each within 2^-24 of its own size.
// A product of two of them is then uncertain by 2 x 2^-24 of its size, so a
// coefficient is uncertain by 2 x 2^-24 times the sum of the magnitudes of its
// terms, plus 2^-24 of itself from its own storage. Parental populations that
// cannot be told apart give coefficients that are exactly zero in exact
// arithmetic but come out as tiny leftovers of those roundings (1e-16 against
// terms of 1e-2); dividing by such a leftover gives proportions of 1e+10. Each
// elimination step carries the magnitudes along (an entry updated by m times
// the pivot row gains |m| times that row's magnitudes) and adds one more
// rounding of storage. A pivot no larger than its uncertainty is taken as zero,
// while parents that differ by more than a few units in the last place of their
// times keep their estimate, however large or negative it comes out.
int Coef_Admixture::solve_without_pivoting(int n, float** a, float* b, float* x, const long double* magnitudes)
{
    std::vector<long double> size;
    if (magnitudes)
        size.assign(magnitudes, magnitudes + static_cast<std::size_t>(n > 0 ? n : 0) * (n > 0 ? n : 0));
    for (int k = 0; k < n; ++k) {
        if (!usable_pivot(a[k][k]))
            return 0;
        if (magnitudes) {
            const long double uncertainty = (3 + k) * float_rounding * size[static_cast<std::size_t>(k) * n + k];
            if (std::fabs(static_cast<long double>(a[k][k])) <= uncertainty)
                return 0;
        }
        for (int i = k + 1; i < n; ++i) {
            const long double m = static_cast<long double>(a[i][k]) / static_cast<long double>(a[k][k]);
            for (int c = 0; c < n; ++c)
                a[i][c] = static_cast<float>(a[i][c] - m * a[k][c]);
            b[i] = static_cast<float>(b[i] - m * b[k]);
            if (magnitudes)
                for (int c = 0; c < n; ++c)
                    size[static_cast<std::size_t>(i) * n + c] += std::fabs(m) * size[static_cast<std::size_t>(k) * n + c];
        }
    }
    if (n <= 0)
        return 1;
    x[n - 1] = static_cast<float>(static_cast<long double>(b[n - 1]) / static_cast<long double>(a[n - 1][n - 1]));
    for (int i = n - 1; i >= 0; --i) {
        long double tt = 0;
        for (int c = i + 1; c < n; ++c)
            tt += static_cast<long double>(a[i][c]) * static_cast<long double>(x[c]);
        x[i] = static_cast<float>((b[i] - tt) / static_cast<long double>(a[i][i]));
    }
    return 1;
}

int Coef_Admixture::gaussian_elimination(float* admix_coef)
{
    const int n = _nb_parent_pops;
    const long double* magnitudes =
        _coefficient_magnitudes.size() == static_cast<std::size_t>(n - 1) * (n - 1) ? _coefficient_magnitudes.data()
                                                                                     : nullptr;
    if (!solve_without_pivoting(n - 1, _right_hand_side_matrix, _left_hand_side_vector, admix_coef, magnitudes)) {
        _dialogue->messages() << "error: Gaussian Elimination, no pivoting\n";
        return 0;
    }
    long double sum = 0;
    for (int k = 0; k < n - 1; ++k)
        sum += admix_coef[k];
    const double sum_admix = static_cast<double>(sum);
    admix_coef[n - 1] = static_cast<float>(1.0L - static_cast<long double>(sum_admix));
    return 1;
}

// ---------------------------------------------------------------------------
// The report

int Coef_Admixture::write_results(int nb_boot)
{
    const std::string report = output_path(OutputFolder::report_name);
    std::ofstream result_file_admix(report, std::ios::out | std::ios::trunc);
    const bool created = result_file_admix.is_open();
    result_file_admix << "-----" << std::endl;
    result_file_admix << "Admixture proportions:" << std::endl;
    for (int i = 0; i < _nb_parent_pops; ++i)
        result_file_admix << "Contribution of parental population " << i + 1 << ": mY" << i + 1 << " = "
                          << Real{_admixture_coefficients[i]} << std::endl;
    if (nb_boot > 0) {
        result_file_admix << std::endl;
        for (int i = 0; i < _nb_parent_pops; ++i) {
            result_file_admix << "Bootstrapped mY" << i + 1 << " = " << Real{_admix_coef_mean_boot[i]} << std::endl;
            result_file_admix << "Bootstrapped SD of mY" << i + 1 << " = " << Real{_admix_coef_sd_boot[i]}
                              << std::endl;
        }
    }
    result_file_admix.close();
    if (!result_file_admix) {
        // Never leave half a report behind (a disk that filled up on the way).
        if (created)
            std::remove(report.c_str());
        refuse(error_line("the report file \"result_admix.txt\" could not be written"));
        return 0;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// The bootstrap

namespace {

std::int64_t sum_of_counts(const int* counts, int haplotypes)
{
    std::int64_t sum = 0;
    for (int h = 0; h < haplotypes; ++h)
        sum += counts[h];
    return sum;
}

}  // namespace

// A replicate draws each sample anew from its counts. That needs a sample size
// no larger than the sum of the counts (or some draws would select nothing),
// and enough copies for every mean coalescence time of the replicate: two per
// parental sample and one in the hybrid sample.
int Coef_Admixture::check_bootstrap_possible()
{
    for (int i = 0; i < _nb_loci; ++i) {
        for (int p = 0; p <= _nb_parent_pops; ++p) {
            const int size = _sample_sizes[i][p];
            const std::int64_t sum = sum_of_counts(_freq_haplotypes[i][p], _num_alleles_loci[i]);
            const std::string where = "at " + locus_text(i) + " the sample size of " + population_text(p) +
                                      " is " + std::to_string(size);
            std::string problem;
            if (size > sum)
                problem = where + ", larger than the sum of its counts, " + std::to_string(sum);
            else if (p > 0 && size < 2)
                problem = where + "; a parental sample of at least 2 copies is needed (the counts sum to " +
                          std::to_string(sum) + ")";
            else if (p == 0 && size < 1)
                problem = where + "; a hybrid sample of at least 1 copy is needed (the counts sum to " +
                          std::to_string(sum) + ")";
            if (!problem.empty())
                return refuse_bootstrap(problem);
        }
    }
    const long double overhead = 16;
    const long double needed =
        static_cast<long double>(_nb_bootstrap) * (8 + 4.0L * _nb_parent_pops + overhead) +
        static_cast<long double>(_nb_loci) * (_nb_parent_pops + 1.0L) * (4.0L * MAX_NB_ALLELES + 8 + overhead);
    return refuse_bootstrap_beyond_memory(needed);
}

// Loci drawn whole keep their observed counts, which the estimate has already
// found to hold enough copies everywhere, so only storage can stand in the way:
// the replicates' estimates and every locus's pair sums and pair counts.
int Coef_Admixture::check_locus_bootstrap_possible()
{
    const long double overhead = 16;
    const long double cells = (_nb_parent_pops + 1.0L) * (_nb_parent_pops + 1.0L);
    const long double needed = static_cast<long double>(_nb_bootstrap) * (8 + 4.0L * _nb_parent_pops + overhead) +
                               static_cast<long double>(_nb_loci) * (8 * cells + 4);
    return refuse_bootstrap_beyond_memory(needed);
}

int Coef_Admixture::refuse_bootstrap_beyond_memory(long double needed_bytes)
{
    const std::uint64_t memory = physical_memory_bytes();
    if (memory > 0 && needed_bytes > static_cast<long double>(memory))
        return refuse_bootstrap(counted(_nb_bootstrap, "replicate", "replicates") + " need " +
                                megabytes_text(needed_bytes) + " of storage, more than this machine's memory (" +
                                megabytes_text(memory) + ")");
    return 1;
}

int Coef_Admixture::refuse_bootstrap(const std::string& problem)
{
    refuse("Bootstrap impossible: " + problem + "\n" +
           "No bootstrap replicate is run; the estimate is reported without them.\n");
    return 0;
}

void Coef_Admixture::allocate_space_for_bootstrap(int nb_boot)
{
    const int P = _nb_parent_pops;
    _freq_hap_boot = new int**[_nb_loci]();
    for (int l = 0; l < _nb_loci; ++l) {
        _freq_hap_boot[l] = new int*[P + 1]();
        for (int p = 0; p <= P; ++p)
            _freq_hap_boot[l][p] = new int[MAX_NB_ALLELES];
    }
    allocate_replicate_estimates(nb_boot);
    build_sample_draws();
}

// The replicates' estimates and their means and standard deviations.
void Coef_Admixture::allocate_replicate_estimates(int nb_boot)
{
    const int P = _nb_parent_pops;
    _admix_coef_mean_boot = new float[P];
    _admix_coef_sd_boot = new float[P];
    _admixture_coef_boot = new float*[nb_boot]();
    for (int b = 0; b < nb_boot; ++b)
        _admixture_coef_boot[b] = new float[P];
}

// The storage of a locus bootstrap, and every locus's pair sums and pair counts
// on the observed counts, computed here once, as compute_coal_times computes
// them, for all the replicates.
void Coef_Admixture::allocate_space_for_locus_bootstrap(int nb_boot)
{
    allocate_replicate_estimates(nb_boot);
    const std::size_t populations = static_cast<std::size_t>(_nb_parent_pops) + 1;
    const std::size_t cells = populations * populations;
    _tot_diff.resize(cells);
    _count_diff.resize(cells);
    _locus_tot_diff.resize(cells * _nb_loci);
    _locus_count_diff.resize(cells * _nb_loci);
    for (int l = 0; l < _nb_loci; ++l) {
        std::fill(_tot_diff.begin(), _tot_diff.end(), 0.0f);
        std::fill(_count_diff.begin(), _count_diff.end(), 0.0f);
        accumulate_locus_pair_sums(_freq_haplotypes, l);
        std::copy(_tot_diff.begin(), _tot_diff.end(), &_locus_tot_diff[l * cells]);
        std::copy(_count_diff.begin(), _count_diff.end(), &_locus_count_diff[l * cells]);
    }
    _drawn_loci.reserve(_nb_loci);
}

// Running totals S(h) = c[0] + ... + c[h] of every observed sample, so that the
// haplotype whose running total first reaches a random number is found by
// bisection instead of a walk over all haplotypes. Random numbers stay below
// 32768 and below the sample size, so for samples of up to 4096 copies every
// number's haplotype is looked up in a table made once. They depend on the
// observed counts only and serve every replicate.
void Coef_Admixture::build_sample_draws()
{
    constexpr int largest_tabled_sample = 4096;
    _sample_draws.assign(_nb_loci, std::vector<SampleDraws>(_nb_parent_pops + 1));
    for (int l = 0; l < _nb_loci; ++l)
        for (int p = 0; p <= _nb_parent_pops; ++p) {
            SampleDraws& draws = _sample_draws[l][p];
            std::int64_t running = 0;
            for (int h = 0; h < _num_alleles_loci[l]; ++h) {
                running += _freq_haplotypes[l][p][h];
                draws.running_totals.push_back(running);
            }
            const int size = _sample_sizes[l][p];
            if (size <= 0 || size > largest_tabled_sample || _num_alleles_loci[l] <= 0)
                continue;
            draws.haplotype_of_number.resize(size);
            for (int number = 1; number < size; ++number)
                draws.haplotype_of_number[number] = static_cast<std::int16_t>(haplotype_reached(draws, number));
            // Number 0 selects haplotype 0 when it is present and is drawn again
            // otherwise; in a sample of one copy only 0 can be drawn, so drawing
            // again would never end: it takes the one present haplotype instead.
            draws.haplotype_of_number[0] = static_cast<std::int16_t>(
                _freq_haplotypes[l][p][0] > 0 ? 0 : (size == 1 ? haplotype_reached(draws, 1) : -1));
        }
}

// The first haplotype whose running total reaches the random number, kept
// within the haplotypes in use (a sample size above the sum of the counts is
// refused before any replicate).
int Coef_Admixture::haplotype_reached(const SampleDraws& draws, int random_number) const
{
    const std::vector<std::int64_t>& totals = draws.running_totals;
    const auto reached = std::lower_bound(totals.begin(), totals.end(), std::int64_t{random_number});
    return static_cast<int>(
        std::min<std::ptrdiff_t>(reached - totals.begin(), static_cast<std::ptrdiff_t>(totals.size()) - 1));
}

// One draw from the sample of `population` at `locus`: a random number r from 0
// to n-1; 0 selects haplotype 0 when it is present and is drawn again otherwise;
// r from 1 to n-1 selects the first haplotype whose running total reaches r.
int Coef_Admixture::draw_haplotype(int locus, int population, int sample_size)
{
    const int* counts = _freq_haplotypes[locus][population];
    const SampleDraws& draws = _sample_draws[locus][population];
    int random_number = corvane::rand() % sample_size;
    int num_correct_allele = 0;
    if (!draws.haplotype_of_number.empty()) {
        num_correct_allele = draws.haplotype_of_number[random_number];
        while (num_correct_allele < 0) {
            random_number = corvane::rand() % sample_size;
            num_correct_allele = draws.haplotype_of_number[random_number];
        }
    } else if (random_number == 0 && counts[0] > 0) {
        num_correct_allele = 0;
    } else {
        // Samples this large (above the tabled sizes) always allow a number
        // other than 0, so drawing again ends.
        while (random_number == 0)
            random_number = corvane::rand() % sample_size;
        num_correct_allele = haplotype_reached(draws, random_number);
    }
    if (static_cast<double>(counts[num_correct_allele]) < 0.00001) {
        _dialogue->draw_found_no_copy(random_number);
    }
    return num_correct_allele;
}

namespace {

// A random number from 0 to n-1 from the program's generator. Up to 32767 it is
// one generator output modulo n. An output holds 15 bits, so from 32768 on the
// number is formed from consecutive outputs, the first one highest: 30 bits
// from two outputs or, above 2^30, 45 bits from three, taken modulo n, so that
// every number up to n-1 can be drawn.
std::int64_t random_below(int n)
{
    if (n <= 32767)
        return corvane::rand() % n;
    std::int64_t number = corvane::rand();
    number = number * 32768 + corvane::rand();
    if (n > (1 << 30))
        number = number * 32768 + corvane::rand();
    return number % n;
}

}  // namespace

// One locus-bootstrap replicate: L loci drawn with replacement, each a random
// number from 0 to L-1, and the log block that lists them in the order drawn
// (loci numbered from 0, as in the log's other blocks).
void Coef_Admixture::bootstrap_loci()
{
    _drawn_loci.resize(_nb_loci);
    for (int& locus : _drawn_loci)
        locus = static_cast<int>(random_below(_nb_loci));
    log_file << "-----" << std::endl;
    log_file << "Bootstrapped loci:" << std::endl;
    for (const int locus : _drawn_loci)
        log_file << locus << " ";
    log_file << std::endl;
}

int Coef_Admixture::bootstrap_pops()
{
    for (int i = 0; i < _nb_loci; ++i)
        for (int j = 0; j <= _nb_parent_pops; ++j)
            std::fill(_freq_hap_boot[i][j], _freq_hap_boot[i][j] + _num_alleles_loci[i], 0);
    for (int i = 0; i < _nb_loci; ++i) {
        for (int j = 0; j <= _nb_parent_pops; ++j) {
            const int n = _sample_sizes[i][j];
            if (_num_alleles_loci[i] <= 0)
                continue;  // no haplotype to draw; the sample sizes check refuses this first
            for (int draw = 0; draw < n; ++draw)
                ++_freq_hap_boot[i][j][draw_haplotype(i, j, n)];
        }
    }
    log_file << "-----" << std::endl;
    log_file << "Bootstrapped frequencies:" << std::endl;
    for (int i = 0; i < _nb_loci; ++i) {
        log_file << "Locus " << i << ":" << std::endl;
        for (int j = 0; j <= _nb_parent_pops; ++j) {
            log_file << "Population " << j << ": ";
            for (int h = 0; h < _num_alleles_loci[i]; ++h)
                log_file << _freq_hap_boot[i][j][h] << " ";
            log_file << std::endl;
        }
    }
    return 1;
}

void Coef_Admixture::compute_mean_sd_bootstrap()
{
    const int B = _nb_bootstrap;
    const int P = _nb_parent_pops;
    if (B == 1) {
        for (int p = 0; p < P; ++p) {
            _admix_coef_mean_boot[p] = _admixture_coef_boot[0][p];
            _admix_coef_sd_boot[p] = 0.0f;
        }
        return;
    }
    for (int p = 0; p < P; ++p) {
        long double sum_admix_coef = 0;
        for (int b = 0; b < B; ++b)
            sum_admix_coef += _admixture_coef_boot[b][p];
        _admix_coef_mean_boot[p] = static_cast<float>(sum_admix_coef / B);
    }
    for (int p = 0; p < P; ++p) {
        long double sum_squared_diff = 0;
        const long double mean = _admix_coef_mean_boot[p];
        for (int b = 0; b < B; ++b) {
            const long double diff = _admixture_coef_boot[b][p] - mean;
            sum_squared_diff += diff * diff;
        }
        _admix_coef_sd_boot[p] = static_cast<float>(std::sqrt(sum_squared_diff / (B - 1)));
    }
}

int Coef_Admixture::de_allocate_space_for_bootstrap(int nb_boot)
{
    if (_freq_hap_boot) {
        for (int l = 0; l < _nb_loci; ++l) {
            if (!_freq_hap_boot[l])
                continue;
            for (int p = 0; p <= _nb_parent_pops; ++p)
                delete[] _freq_hap_boot[l][p];
            delete[] _freq_hap_boot[l];
        }
        delete[] _freq_hap_boot;
        _freq_hap_boot = nullptr;
    }
    delete[] _admix_coef_mean_boot;
    _admix_coef_mean_boot = nullptr;
    delete[] _admix_coef_sd_boot;
    _admix_coef_sd_boot = nullptr;
    if (_admixture_coef_boot) {
        for (int b = 0; b < nb_boot; ++b)
            delete[] _admixture_coef_boot[b];
        delete[] _admixture_coef_boot;
        _admixture_coef_boot = nullptr;
    }
    _sample_draws.clear();
    _locus_tot_diff.clear();
    _locus_count_diff.clear();
    _drawn_loci.clear();
    return 1;
}
