#include "COEF_ADMIX.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <limits>
#include <new>
#include <sstream>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console_dialogue.h"
#include "data_file_tokens.h"
#include "log_blocks.h"
#include "number_format.h"
#include "output_folder.h"
#include "quoted_text.h"
#include "random_numbers.h"
#include "replicate_estimator.h"
#include "replicate_threads.h"
#include "whole_number.h"


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
// Findings in the data file

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

    bool empty() const { return _kinds.empty(); }

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
    if ((j != k || distance == 0.0f) && !(distance < 0.0f))
        return;  // nothing to note: no text to build for the many distances that are fine
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
    // A reader of `whole`'s file from `position` on, with findings of its own,
    // for one thread's part of the file; `whole` must outlive it.
    DataFileReader(const DataFileReader& whole, std::size_t position)
        : _file_name(whole._file_name), _tokens(whole._tokens, position), _findings(whole._file_name) {}

    std::size_t position() const { return _tokens.position(); }
    void seek(std::size_t position) { _tokens.seek(position); }
    const std::string& contents() const { return _tokens.contents(); }

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
        float value = decimal_to_float(_token);
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

    // The number of haplotypes of each locus, read ahead in the distance section
    // and then forgotten, so that the storage can be sized before it is filled.
    // Stops at the first token that is no number of haplotypes from 0 to `most`,
    // or at the end of the file: the loci from there on count 0 haplotypes, and
    // the reading proper stops at that very place with its message. When every
    // locus was passed, `starts` holds where each locus's block starts and,
    // last, where the section ends; otherwise it is empty.
    std::vector<int> haplotypes_ahead(int loci, int most, std::vector<std::size_t>& starts)
    {
        std::vector<int> haplotypes(static_cast<std::size_t>(loci), 0);
        const std::size_t resume = _tokens.position();
        starts.clear();
        int passed = 0;
        for (int l = 0; l < loci; ++l, ++passed) {
            starts.push_back(_tokens.position());
            int n = 0;
            if (!_tokens.skip(1) || !_tokens.next(_token) || parse_whole_token(_token, n) != WholeNumberScan::ok ||
                n < 0 || n > most)
                break;
            haplotypes[l] = n;
            if (!_tokens.skip(static_cast<std::size_t>(n) * (n + 1) / 2))
                break;
        }
        starts.push_back(_tokens.position());
        if (passed != loci || !_message.empty())
            std::vector<std::size_t>().swap(starts);
        _tokens.seek(resume);
        return haplotypes;
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

// The bytes a run's tables take, each allocation counted with a small
// bookkeeping overhead; in long double so that absurd sizes do not wrap around.
// Pointers and long doubles take what they take on this platform (8 and 16 bytes
// on x86-64 and ARM64, 4 and 12 on i386).
constexpr long double pointer_bytes = sizeof(void*);
constexpr long double long_double_bytes = sizeof(long double);

// Main storage and the working tables of the estimate, for P parental
// populations, L loci holding `haplotypes` and `squares` haplotypes and squared
// haplotypes in all, at most `most` at one locus:
long double main_storage_bytes(long double P, long double L, long double haplotypes, long double squares,
                               long double most)
{
    const long double overhead = 16;
    const long double populations = P + 1;
    const long double locus_tables = 4 * L                          // haplotypes per locus
                                     + pointer_bytes * L * 3        // row pointers of the three tables
                                     + 4 * L * populations          // sample sizes
                                     + pointer_bytes * L * populations  // count row pointers
                                     + 4 * populations * haplotypes // counts
                                     + pointer_bytes * haplotypes   // distance row pointers
                                     + 4 * squares                  // distances
                                     + 9 * L                        // distance profiles
                                     + 10 * overhead;
    const long double estimate_tables = 3 * 4 * P + 2 * (pointer_bytes * P + 4 * P * P)  // times, equations, estimates
                                        + 8 * populations * populations     // pair sums and pair counts
                                        + 16 * populations * populations    // the same before rounding
                                        + 8 * (P + P * P) + long_double_bytes * P * P  // precise times and equations
                                        + PairSums::working_bytes(populations, most) + 16 * overhead;
    return locus_tables + estimate_tables;
}

// ... the replicates' estimates, with their means and deviations ...
long double replicate_estimates_bytes(long double P, long double replicates)
{
    const long double overhead = 16;
    return replicates * (pointer_bytes + 4 * P) + 2 * 4 * P + 4 * overhead;
}

// ... and the rest of a bootstrap of copies: the counts of the replicate in hand
// and the draw tables of every sample (running totals, and one entry per copy
// for samples of up to 4096).
long double bootstrap_storage_bytes(long double P, long double L, long double haplotypes, long double replicates,
                                    long double tabled_copies)
{
    const long double overhead = 16;
    const long double populations = P + 1;
    const long double sample_draws = 2 * pointer_bytes + 8;  // two pointers, a count and a flag, padded
    return pointer_bytes * L + pointer_bytes * L * populations + 4 * populations * haplotypes  // replicate counts
           + replicate_estimates_bytes(P, replicates)
           + sample_draws * L * populations + 8 * populations * haplotypes + 2 * tabled_copies  // draw tables
           + 4 * overhead;
}

std::string megabytes_text(long double bytes)
{
    std::ostringstream text;
    text << format_real(static_cast<double>(bytes / 1e6L)) << " MB";
    return text.str();
}

// Gives an array or a table back, leaving nothing to release twice.
template <class T>
void release(T*& array)
{
    delete[] array;
    array = nullptr;
}

template <class T>
void release(std::vector<T>& table)
{
    std::vector<T>().swap(table);
}

// The distance block of locus i: a label, the number of haplotypes and the
// lower triangle of the distance matrix with its diagonal, row by row, into the
// storage sized for the `stored` haplotypes read ahead (at most `most`).
// False, with the reader's message, at the first token that does not fit.
bool read_distance_block(DataFileReader& reader, int i, int most, int stored, float** distances)
{
    int haplotypes = 0;
    if (!reader.label([&] { return "the label of " + locus_text(i) + " in the distance section"; }) ||
        !reader.whole(haplotypes, [&] { return "the number of haplotypes of " + locus_text(i); }))
        return false;
    if (haplotypes < 0 || haplotypes > most)
        return reader.fail("the number of haplotypes of " + locus_text(i) + " is " + std::to_string(haplotypes) +
                           "; it must lie between 0 and " + std::to_string(most));
    for (int j = 0; j < stored; ++j) {
        for (int k = 0; k <= j; ++k) {
            float& distance = distances[j][k];
            if (!reader.real(distance, [&] {
                    return "the distance between haplotypes " + std::to_string(j) + " and " + std::to_string(k) +
                           " of " + locus_text(i);
                }))
                return false;
            distances[k][j] = distance;
            note_doubtful_distance(reader.findings(), i, j, k, distance);
        }
    }
    return true;
}

// A distance section worth sharing among threads holds this many distances.
constexpr std::int64_t distances_worth_threads = 64 * 1024;

// Reads the distance section in parts of consecutive loci side by side, each
// thread with a reader of its own starting at its first locus (`starts`, from
// the reading ahead). True when every part was read without a problem or a
// finding: `reader` then stands at the count section. Otherwise nothing is
// taken from the parts, and the section is to be read again in order from where
// `reader` stands, so that the message and the findings are those of a reading
// from start to end.
bool read_distances_side_by_side(DataFileReader& reader, const std::vector<std::size_t>& starts, int threads,
                                 int loci, int most, const int* stored, float*** distances)
{
    if (threads < 2 || starts.size() != static_cast<std::size_t>(loci) + 1 || plain_arithmetic_forced())
        return false;
    std::vector<std::int64_t> before(static_cast<std::size_t>(loci) + 1, 0);
    for (int i = 0; i < loci; ++i)
        before[i + 1] = before[i] + std::int64_t{stored[i]} * (stored[i] + 1) / 2;
    if (before.back() < distances_worth_threads)
        return false;
    // Parts of about the same number of distances.
    std::vector<int> first_locus{0};
    for (int part = 1; part < threads; ++part) {
        int end = first_locus.back();
        while (end < loci && before[end] < before.back() * part / threads)
            ++end;
        if (end > first_locus.back() && end < loci)
            first_locus.push_back(end);
    }
    first_locus.push_back(loci);
    const int parts = static_cast<int>(first_locus.size()) - 1;
    std::vector<char> clean(static_cast<std::size_t>(parts), 0);
    run_side_by_side(parts, threads, [&](int part) {
        DataFileReader own(reader, starts[first_locus[part]]);
        bool read = true;
        for (int i = first_locus[part]; read && i < first_locus[part + 1]; ++i)
            read = read_distance_block(own, i, most, stored[i], distances[i]);
        clean[part] = read && own.findings().empty();
    });
    if (std::find(clean.begin(), clean.end(), 0) != clean.end())
        return false;
    reader.seek(starts.back());
    return true;
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
    finish_log_lines();
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
    if (_log_detail == LogDetail::none) {
        // Every line goes nowhere, and no log, this run's or an earlier one's,
        // is left in the folder.
        log_file.open("/dev/null", std::ios::out);
        if (_outputs && log_file.is_open())
            _outputs->log_not_kept();
        return log_file.is_open();
    }
    // A log the claim has just created is empty and is opened as it is: a file
    // emptied by truncation, even one empty already, is written out by the
    // file system when it is closed (ext4 does so, some 40 ms for a 150 MB log).
    const bool empty_already = _outputs && _outputs->log_created_empty();
    log_file.open(output_path(OutputFolder::log_name),
                  empty_already ? std::ios::in | std::ios::out : std::ios::out | std::ios::trunc);
    if (_outputs && log_file.is_open())
        _outputs->log_taken();
    return log_file.is_open();
}

// Creates the main arrays: per table the row pointers and one block that the
// rows point into, each locus's rows as long as its number of haplotypes; then
// the working tables of the estimate, so that no later step allocates. Pointer
// arrays start out null, so that storage half created when memory runs out can
// be released; it is, and the result is then 0.
int Coef_Admixture::allocate_space(const std::vector<int>& haplotypes_per_locus)
{
    const int P = _nb_parent_pops;
    const int L = _nb_loci;
    try {
        std::size_t haplotypes = 0;
        std::size_t squares = 0;
        int most = 0;
        for (int l = 0; l < L; ++l) {
            const std::size_t n = static_cast<std::size_t>(haplotypes_per_locus[l]);
            haplotypes += n;
            squares += n * n;
            most = std::max(most, haplotypes_per_locus[l]);
        }
        const std::size_t populations = static_cast<std::size_t>(P) + 1;
        _num_alleles_loci = new int[L];
        _dist_haplotypes = new float**[L]();
        _sample_sizes = new int*[L]();
        _freq_haplotypes = new int**[L]();
        _sample_size_block.reset(new int[populations * L]);
        _distance_rows.reset(new float*[haplotypes]);
        _distance_block.reset(new float[squares]);
        _count_rows.reset(new int*[populations * L]);
        _count_block.reset(new int[populations * haplotypes]);
        std::size_t row = 0;
        std::size_t distance = 0;
        std::size_t count = 0;
        for (int l = 0; l < L; ++l) {
            const int n = haplotypes_per_locus[l];
            _num_alleles_loci[l] = n;
            _sample_sizes[l] = &_sample_size_block[populations * l];
            _dist_haplotypes[l] = &_distance_rows[row];
            for (int h = 0; h < n; ++h, distance += n)
                _distance_rows[row++] = &_distance_block[distance];
            _freq_haplotypes[l] = &_count_rows[populations * l];
            for (std::size_t p = 0; p < populations; ++p, count += n)
                _freq_haplotypes[l][p] = &_count_block[count];
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
        _tot_diff.assign(populations * populations, 0.0f);
        _count_diff.assign(populations * populations, 0.0f);
        _precise_tot.assign(populations * populations, 0.0);
        _precise_count.assign(populations * populations, 0.0);
        _choice = estimate_core::every_population(P, _parent_rows);
        _precise.reserve(P);
        _pair_sums = std::make_unique<PairSums>(P + 1, most);
        _whole_distance_bound.reserve(L);
        _distances_normal.reserve(L);
    } catch (const std::bad_alloc&) {
        de_allocate_space();
        return 0;
    }
    return 1;
}

int Coef_Admixture::de_allocate_space()
{
    const int P = _nb_parent_pops;
    release(_num_alleles_loci);
    release(_dist_haplotypes);
    release(_sample_sizes);
    release(_freq_haplotypes);
    _sample_size_block.reset();
    _distance_rows.reset();
    _distance_block.reset();
    _count_rows.reset();
    _count_block.reset();
    release(_hybrid_parental_coal_times);
    release(_left_hand_side_vector);
    release(_admixture_coefficients);
    for (float*** matrix : {&_parental_coal_times, &_right_hand_side_matrix}) {
        if (!*matrix)
            continue;
        for (int p = 0; p < P; ++p)
            delete[] (*matrix)[p];
        delete[] *matrix;
        *matrix = nullptr;
    }
    release(_tot_diff);
    release(_count_diff);
    release(_precise_tot);
    release(_precise_count);
    _pair_sums.reset();
    release(_whole_distance_bound);
    release(_distances_normal);
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
        // The size known beforehand spares the copies of a growing text.
        if (known && S_ISREG(status.st_mode) && status.st_size > 0 &&
            static_cast<unsigned long long>(status.st_size) < contents.max_size())
            contents.reserve(static_cast<std::size_t>(status.st_size));
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
    return 1;
}

namespace {

// The bytes of a byte-order mark that some editors put at the start of a text
// file, which is not part of the data; 0 when there is none.
std::size_t byte_order_mark_length(const std::string& contents)
{
    static const std::string byte_order_mark = "\xEF\xBB\xBF";
    return contents.compare(0, byte_order_mark.size(), byte_order_mark) == 0 ? byte_order_mark.size() : 0;
}

// Hands the data file's bytes to the dialogue, which takes their checksum for
// the run record: on a thread of its own while the file is parsed when the run
// may use several threads, at once otherwise. The hand-over has ended when
// this is destroyed, whatever way the reading ends.
class BytesHandedOver {
public:
    BytesHandedOver(Dialogue& dialogue, const std::string& bytes, bool alongside)
    {
        if (alongside) {
            try {
                _thread = thread_without_interrupts([&dialogue, &bytes] {
                    try {
                        dialogue.data_file_read(bytes);
                    } catch (const std::bad_alloc&) {
                        // no memory for the checksum: the record goes without it
                    }
                });
                return;
            } catch (const std::system_error&) {
                // no thread to be had: the hand-over is made here
            }
        }
        dialogue.data_file_read(bytes);
    }
    ~BytesHandedOver()
    {
        if (_thread.joinable())
            _thread.join();
    }
    BytesHandedOver(const BytesHandedOver&) = delete;
    BytesHandedOver& operator=(const BytesHandedOver&) = delete;

private:
    std::thread _thread;
};

}  // namespace

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
    const BytesHandedOver handed_over(*_dialogue, reader.contents(), _reading_threads > 1);
    reader.seek(byte_order_mark_length(reader.contents()));
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
    // The storage is refused before anything is allocated when it cannot fit:
    // first with the loci still taken as empty, then at its full size. An
    // allocation that fails all the same is an error stop too, its message
    // built once everything is released.
    const std::uint64_t memory = physical_memory_bytes();
    const auto storage_fits = [memory](long double bytes) {
        return memory == 0 || bytes <= static_cast<long double>(memory);
    };
    const auto refuse_storage = [&](long double bytes, bool beyond_memory = true) {
        const std::string what = counted(L, "locus", "loci") + " and " + std::to_string(P) + " parental populations";
        if (beyond_memory)
            reader.fail(what + " need " + megabytes_text(bytes) + " of storage, more than this machine's memory (" +
                        megabytes_text(memory) + ")");
        else
            reader.fail("not enough memory for the storage of " + what + " (" + megabytes_text(bytes) + ")");
        refuse(reader.message());
        return 0;
    };
    std::vector<int> haplotypes;
    std::vector<std::size_t> locus_starts;
    long double needed = main_storage_bytes(P, L, 0, 0, 0);
    if (!storage_fits(needed))
        return refuse_storage(needed);
    try {
        haplotypes = reader.haplotypes_ahead(L, MAX_NB_ALLELES, locus_starts);
    } catch (const std::bad_alloc&) {
        return refuse_storage(needed, false);
    }
    long double all_haplotypes = 0;
    long double squares = 0;
    int most = 0;
    for (int n : haplotypes) {
        all_haplotypes += n;
        squares += static_cast<long double>(n) * n;
        most = std::max(most, n);
    }
    needed = main_storage_bytes(P, L, all_haplotypes, squares, most);
    if (!storage_fits(needed))
        return refuse_storage(needed);
    _main_storage_bytes = needed;
    if (!allocate_space(haplotypes)) {
        std::vector<int>().swap(haplotypes);
        return refuse_storage(needed, false);
    }
    std::vector<int>().swap(haplotypes);

    // Distance section: per locus a label, the number of haplotypes and the lower
    // triangle of the distance matrix with its diagonal, row by row. The storage
    // holds the number read ahead (the same tokens), which is 0 from a locus
    // whose number is not valid on.
    if (!read_distances_side_by_side(reader, locus_starts, _reading_threads, L, MAX_NB_ALLELES, _num_alleles_loci,
                                     _dist_haplotypes)) {
        for (int i = 0; i < L; ++i) {
            if (!read_distance_block(reader, i, MAX_NB_ALLELES, _num_alleles_loci[i], _dist_haplotypes[i])) {
                refuse(reader.message());
                return 0;
            }
        }
    }
    release(locus_starts);

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

// The echo of the data is the bulk of the log before the bootstrap (every
// distance of every locus). It is made in pieces of consecutive loci, side by
// side on the run's threads, and each piece is written in one block, in the
// order of the loci: a crash before the estimate loses nothing a rerun would
// not write again. The straightforward implementation writes and flushes line
// by line.
void Coef_Admixture::write_data_echo()
{
    if (_log_detail == LogDetail::none)
        return;  // the log goes nowhere
    if (plain_arithmetic_forced()) {
        log_file << "-----" << std::endl;
        log_file << "Read from data file:" << std::endl;
        RealTextCache distance_texts;
        echo_loci(0, _nb_loci, _line, distance_texts, log_file);
        return;
    }
    const std::string heading = "-----\nRead from data file:\n";
    log_file.write(heading.data(), static_cast<std::streamsize>(heading.size()));
    const int threads = std::max(1, _reading_threads);
    const std::vector<int> ends = echo_piece_ends(threads);
    std::vector<std::string> texts(static_cast<std::size_t>(threads));
    for (std::size_t first = 0; first < ends.size(); first += texts.size()) {
        const int pieces = static_cast<int>(std::min(texts.size(), ends.size() - first));
        run_side_by_side(pieces, threads, [&](int i) {
            const std::size_t piece = first + static_cast<std::size_t>(i);
            const int from = piece == 0 ? 0 : ends[piece - 1];
            std::string& text = texts[static_cast<std::size_t>(i)];
            text.clear();
            std::int64_t values = 0;
            for (int locus = from; locus < ends[piece]; ++locus)
                values += echo_values(locus);
            text.reserve(static_cast<std::size_t>(values) * echo_characters_per_value);
            log_blocks::TextGatherer gatherer;
            gatherer.gather_into(&text);
            std::ostream gathering(&gatherer);
            TextLine line;
            RealTextCache distance_texts;
            echo_loci(from, ends[piece], line, distance_texts, gathering);
        });
        for (int i = 0; i < pieces; ++i)
            log_file.write(texts[static_cast<std::size_t>(i)].data(),
                           static_cast<std::streamsize>(texts[static_cast<std::size_t>(i)].size()));
    }
    log_file.flush();
}

// Where the echo's pieces end: loci cut into pieces of about the same text, as
// many as the threads while the echo is short, more (a multiple of the
// threads) of at most about a megabyte when it is long, so that the pieces in
// memory stay few and each is worth a thread. A locus is never split.
std::vector<int> Coef_Admixture::echo_piece_ends(int threads) const
{
    std::vector<std::int64_t> values_before(static_cast<std::size_t>(_nb_loci) + 1, 0);
    for (int i = 0; i < _nb_loci; ++i)
        values_before[i + 1] = values_before[i] + echo_values(i);
    const std::int64_t all_values = values_before.back();
    const std::int64_t rounds = all_values / (threads * most_echo_values_per_piece) + 1;
    const std::int64_t pieces = rounds * threads;
    std::vector<int> ends;
    int end = 0;
    for (std::int64_t piece = 1; piece <= pieces && end < _nb_loci; ++piece) {
        const std::int64_t values_so_far = all_values * piece / pieces;
        while (end < _nb_loci && (values_before[end] < values_so_far || piece == pieces))
            ++end;
        if (ends.empty() || ends.back() < end)
            ends.push_back(end);
    }
    return ends;
}

// The distances and counts of locus i in the echo, and one for its heading.
std::int64_t Coef_Admixture::echo_values(int i) const
{
    const std::int64_t n = _num_alleles_loci[i];
    return n * (n + 1) / 2 + n * (_nb_parent_pops + 1) + 1;
}

// The echo of loci from .. to-1: each locus's counts, one line per population,
// and its distance matrix, one line per haplotype.
void Coef_Admixture::echo_loci(int from, int to, TextLine& line, RealTextCache& distance_texts, std::ostream& out)
{
    for (int i = from; i < to; ++i) {
        (line << "Locus " << i << ":").end(out);
        write_count_rows(out, line, _freq_haplotypes[i], i);
        out << "Distance matrix between haplotypes:" << std::endl;
        for (int j = 0; j < _num_alleles_loci[i]; ++j) {
            for (int k = 0; k <= j; ++k)
                line.real(_dist_haplotypes[i][j][k], distance_texts) << ' ';
            line.end(out);
        }
    }
}

// One line per population: "Population p: " and the counts of the locus, each
// followed by a blank.
void Coef_Admixture::write_count_rows(std::ostream& out, TextLine& line, int** counts, int locus)
{
    for (int p = 0; p <= _nb_parent_pops; ++p) {
        line << "Population " << p << ": ";
        for (int h = 0; h < _num_alleles_loci[locus]; ++h)
            line << counts[p][h] << ' ';
        line.end(out);
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

// The distances never change after the reading: whether they are whole
// numbers, or normal floats, is found once (again on every call on the observed
// counts, which tests may change between calls) and serves the replicates.
void Coef_Admixture::profile_distances(bool again)
{
    if (!again && _whole_distance_bound.size() == static_cast<std::size_t>(_nb_loci))
        return;
    _whole_distance_bound.clear();
    _distances_normal.clear();
    for (int l = 0; l < _nb_loci; ++l) {
        _whole_distance_bound.push_back(whole_distance_bound(_dist_haplotypes[l], _num_alleles_loci[l]));
        _distances_normal.push_back(distances_normal(_dist_haplotypes[l], _num_alleles_loci[l]));
    }
}

// The pair sums and pair counts of one locus into _tot_diff and _count_diff.
void Coef_Admixture::locus_pair_sums(int*** freq_hap, int l)
{
    std::fill(_tot_diff.begin(), _tot_diff.end(), 0.0f);
    std::fill(_count_diff.begin(), _count_diff.end(), 0.0f);
    LocusPairData locus;
    locus.populations = _nb_parent_pops + 1;
    locus.haplotypes = _num_alleles_loci[l];
    locus.distance = _dist_haplotypes[l];
    locus.counts = freq_hap[l];
    locus.whole_distance_bound = _whole_distance_bound[l];
    locus.distances_normal = _distances_normal[l] != 0;
    _pair_sums->compute(locus, _tot_diff.data(), _count_diff.data(), _precise_tot.data(), _precise_count.data());
}

int Coef_Admixture::compute_coal_times(int*** freq_hap)
{
    start_coal_times();
    profile_distances(freq_hap == _freq_haplotypes);
    for (int l = 0; l < _nb_loci; ++l) {
        locus_pair_sums(freq_hap, l);
        add_locus_means(_tot_diff.data(), _count_diff.data());
        _precise.add_locus(_choice, _precise_tot.data(), _precise_count.data());
    }
    return finish_coal_times(_nb_loci);
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
    const int populations = _nb_parent_pops + 1;
    const std::size_t cells = static_cast<std::size_t>(populations) * populations;
    start_coal_times();
    for (const int locus : _drawn_loci) {
        add_locus_means(&_locus_tot_diff[locus * cells], &_locus_count_diff[locus * cells]);
        _precise.add_locus(_choice, &_locus_precise_tot[locus * cells], &_locus_precise_count[locus * cells]);
    }
    const std::size_t last = static_cast<std::size_t>(_drawn_loci.back()) * cells;
    std::copy_n(&_locus_tot_diff[last], cells, _tot_diff.begin());
    std::copy_n(&_locus_count_diff[last], cells, _count_diff.begin());
    return finish_coal_times(static_cast<int>(_drawn_loci.size()));
}

// The times start from 0, and so do the precise ones beside them.
void Coef_Admixture::start_coal_times()
{
    estimate_core::clear_times(_nb_parent_pops, _hybrid_parental_coal_times, _parental_coal_times);
    _precise.start(_nb_parent_pops);
    _precise_ready = false;
}

void Coef_Admixture::add_locus_means(const float* tot_diff, const float* count_diff)
{
    estimate_core::add_locus_means(_choice, tot_diff, count_diff, _hybrid_parental_coal_times, _parental_coal_times);
}

// Divides the running times by the number of loci (each locus weighs the same
// in the mean; without loci there is no mean at all), logs them with the pair
// sums of the last locus, and tells whether every pair of distinct parental
// populations has a mean time other than zero.
int Coef_Admixture::finish_coal_times(int loci)
{
    estimate_core::finish_times(_nb_parent_pops, loci, _hybrid_parental_coal_times, _parental_coal_times);
    _precise.finish(loci, _time_to_admix_event, _mutation_rate_per_year);
    _precise_ready = true;
    write_coal_times_log();
    return estimate_core::distinct_parents_apart(_nb_parent_pops, _parental_coal_times) ? 1 : 0;
}

void Coef_Admixture::write_coal_times_log()
{
    log_blocks::coalescence_times(log(), _line, _nb_parent_pops, _time_to_admix_event, _tot_diff.data(),
                                  _count_diff.data(), _hybrid_parental_coal_times, _parental_coal_times);
}

void Coef_Admixture::add_time_to_admix_event()
{
    estimate_core::add_admixture_term(_nb_parent_pops, _time_to_admix_event, _mutation_rate_per_year,
                                      _parental_coal_times);
}

// ---------------------------------------------------------------------------
// The linear system and its solution

// The normal equations of the least-squares fit of the hybrid's times by the
// parental times under the constraint that the proportions sum to one: equation
// j reads sum over k of M[j][k] mu_k = v[j] for j, k below the last parental
// population r, whose proportion is 1 minus the others.
void Coef_Admixture::compute_coefficients_of_linear_equations()
{
    const int n = _nb_parent_pops;
    float** M = _right_hand_side_matrix;
    float* v = _left_hand_side_vector;
    estimate_core::form_equations(n, _parental_coal_times, _hybrid_parental_coal_times, M, v);
    log_blocks::linear_equations(log(), _line, n, M, v);
}

// Gaussian elimination without pivoting, then back substitution. A pivot that is
// zero or not finite cannot be divided by: the result is then 0 and x is left
// incomplete.
int Coef_Admixture::GaussNP(int n, float** a, float* b, float* x)
{
    return estimate_core::solve_without_pivoting(n, a, b, x);
}

// The solution, refused when elimination without pivoting fails, and also when
// its digits are noise: the same estimate computed precisely from the pair sums
// of the times just formed (see estimate_core.h) lies further from it than
// 10^-3 of the largest proportion (and at least 10^-3), or its equations are
// singular. Single-precision times carry about 7 digits; equations of parental
// populations that are nearly alike can amplify their rounding beyond every
// digit reported, and only a measurement of the answer tells when.
int Coef_Admixture::gaussian_elimination(float* admix_coef)
{
    const int n = _nb_parent_pops;
    _refusal_message.clear();
    const bool precise_available = _precise_ready;
    _precise_ready = false;
    if (!GaussNP(n - 1, _right_hand_side_matrix, _left_hand_side_vector, admix_coef)) {
        _dialogue->messages() << "error: Gaussian Elimination, no pivoting\n";
        return 0;
    }
    estimate_core::complete_proportions(n, admix_coef);
    if (precise_available) {
        const estimate_core::Agreement agreement = estimate_core::measure_agreement(n, admix_coef, _precise);
        if (agreement.refused()) {
            _refusal_message = estimate_core::refusal_line(agreement);
            _dialogue->messages() << "error: Gaussian Elimination, no pivoting\n";
            return 0;
        }
    }
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

// Samples of up to this many copies find the haplotype of each random number in
// a table.
constexpr int largest_tabled_sample = 4096;

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
    // The replicates' storage comes on top of the data's, which stays allocated.
    long double haplotypes = 0;
    long double tabled_copies = 0;
    for (int i = 0; i < _nb_loci; ++i) {
        haplotypes += _num_alleles_loci[i];
        for (int p = 0; p <= _nb_parent_pops; ++p)
            if (_sample_sizes[i][p] <= largest_tabled_sample)
                tabled_copies += _sample_sizes[i][p];
    }
    const long double needed =
        bootstrap_storage_bytes(_nb_parent_pops, _nb_loci, haplotypes, _nb_bootstrap, tabled_copies);
    return refuse_bootstrap_beyond_memory(needed, false);
}

// Loci drawn whole keep their observed counts, which the estimate has already
// found to hold enough copies everywhere, so only storage can stand in the way:
// the replicates' estimates and every locus's pair sums and pair counts.
int Coef_Admixture::check_locus_bootstrap_possible()
{
    const long double cells = (_nb_parent_pops + 1.0L) * (_nb_parent_pops + 1.0L);
    const long double needed = replicate_estimates_bytes(_nb_parent_pops, _nb_bootstrap) +
                               static_cast<long double>(_nb_loci) * (24 * cells + 4);
    return refuse_bootstrap_beyond_memory(needed, true);
}

// The replicates' storage comes on top of the data's, which stays allocated,
// with the log's blocks waiting to be written; then as many of the threads
// asked for as the memory left holds, each with its working tables and the
// log texts of the replicates it may have waiting.
int Coef_Admixture::refuse_bootstrap_beyond_memory(long double needed_bytes, bool resample_loci)
{
    const std::uint64_t memory = physical_memory_bytes();
    int most_haplotypes = 0;
    for (int l = 0; l < _nb_loci; ++l)
        most_haplotypes = std::max(most_haplotypes, _num_alleles_loci[l]);
    needed_bytes += (BlockLogWriter::queued_blocks + 2) *
                    static_cast<long double>(LogBlocks::block_bytes + LogBlocks::longest_line_bytes(most_haplotypes));
    const long double available = memory > 0 ? static_cast<long double>(memory) - _main_storage_bytes : 0;
    if (memory > 0 && needed_bytes > available)
        return refuse_bootstrap(counted(_nb_bootstrap, "replicate", "replicates") + " need " +
                                megabytes_text(needed_bytes) + " of storage, more than this machine's memory (" +
                                megabytes_text(memory) + ")");
    const bool log_blocks = _log_detail == LogDetail::full;
    const long double per_thread = replicate_thread_bytes(*this, resample_loci, log_blocks, outcomes_per_thread);
    _replicate_threads_allowed = std::max(1, _replicate_threads_wanted);
    while (_replicate_threads_allowed > 1 && memory > 0 &&
           needed_bytes + _replicate_threads_allowed * per_thread > available)
        --_replicate_threads_allowed;
    if (_replicate_threads_allowed < _replicate_threads_wanted)
        _dialogue->warnings() << "Warning: the bootstrap runs on " << _replicate_threads_allowed
                              << (_replicate_threads_allowed == 1 ? " thread" : " threads") << " instead of "
                              << _replicate_threads_wanted << ": each needs "
                              << megabytes_text(per_thread) << " of storage, and this machine's memory ("
                              << megabytes_text(memory) << ") holds no more" << std::endl;
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
    const std::size_t P = static_cast<std::size_t>(_nb_parent_pops);
    const std::size_t L = static_cast<std::size_t>(_nb_loci);
    try {
        std::size_t haplotypes = 0;
        for (std::size_t l = 0; l < L; ++l)
            haplotypes += static_cast<std::size_t>(_num_alleles_loci[l]);
        _freq_hap_boot = new int**[L]();
        _boot_count_rows.reset(new int*[(P + 1) * L]);
        _boot_count_block.reset(new int[(P + 1) * haplotypes]);
        std::size_t count = 0;
        for (std::size_t l = 0; l < L; ++l) {
            _freq_hap_boot[l] = &_boot_count_rows[(P + 1) * l];
            for (std::size_t p = 0; p <= P; ++p, count += static_cast<std::size_t>(_num_alleles_loci[l]))
                _freq_hap_boot[l][p] = &_boot_count_block[count];
        }
        allocate_replicate_estimates(nb_boot);
        build_sample_draws();
    } catch (const std::bad_alloc&) {
        de_allocate_space_for_bootstrap(nb_boot);
        throw;
    }
}

// The replicates' estimates and their means and standard deviations, the rows
// of the estimates in one block.
void Coef_Admixture::allocate_replicate_estimates(int nb_boot)
{
    const std::size_t P = static_cast<std::size_t>(_nb_parent_pops);
    _admix_coef_mean_boot = new float[P];
    _admix_coef_sd_boot = new float[P];
    const std::size_t replicates = static_cast<std::size_t>(std::max(nb_boot, 0));
    _admixture_coef_boot = new float*[replicates]();
    _replicate_block.reset(new float[replicates * P]);
    for (std::size_t b = 0; b < replicates; ++b)
        _admixture_coef_boot[b] = &_replicate_block[b * P];
}

// The storage of a locus bootstrap, and every locus's pair sums and pair counts
// on the observed counts, computed here once, as compute_coal_times computes
// them, for all the replicates.
void Coef_Admixture::allocate_space_for_locus_bootstrap(int nb_boot)
{
    try {
        allocate_replicate_estimates(nb_boot);
        const std::size_t populations = static_cast<std::size_t>(_nb_parent_pops) + 1;
        const std::size_t cells = populations * populations;
        _locus_tot_diff.resize(cells * _nb_loci);
        _locus_count_diff.resize(cells * _nb_loci);
        _locus_precise_tot.resize(cells * _nb_loci);
        _locus_precise_count.resize(cells * _nb_loci);
        _drawn_loci.reserve(_nb_loci);
        profile_distances(false);
        for (int l = 0; l < _nb_loci; ++l) {
            locus_pair_sums(_freq_haplotypes, l);
            std::copy(_tot_diff.begin(), _tot_diff.end(), &_locus_tot_diff[l * cells]);
            std::copy(_count_diff.begin(), _count_diff.end(), &_locus_count_diff[l * cells]);
            std::copy(_precise_tot.begin(), _precise_tot.end(), &_locus_precise_tot[l * cells]);
            std::copy(_precise_count.begin(), _precise_count.end(), &_locus_precise_count[l * cells]);
        }
    } catch (const std::bad_alloc&) {
        de_allocate_space_for_bootstrap(nb_boot);
        throw;
    }
}

// Running totals S(h) = c[0] + ... + c[h] of every observed sample, so that the
// haplotype whose running total first reaches a random number is found by
// bisection instead of a walk over all haplotypes. Random numbers stay below
// the sample size, so for samples of up to 4096 copies every number's haplotype
// is looked up in a table made once. They depend on the observed counts only
// and serve every replicate.
void Coef_Admixture::build_sample_draws()
{
    const int populations = _nb_parent_pops + 1;
    std::size_t haplotypes = 0;
    std::size_t tabled = 0;
    for (int l = 0; l < _nb_loci; ++l)
        for (int p = 0; p < populations; ++p) {
            haplotypes += static_cast<std::size_t>(_num_alleles_loci[l]);
            const int size = _sample_sizes[l][p];
            if (size > 0 && size <= largest_tabled_sample && _num_alleles_loci[l] > 0)
                tabled += static_cast<std::size_t>(size);
        }
    _running_total_block.resize(haplotypes);
    _draw_table_block.resize(tabled);
    _sample_draws.resize(static_cast<std::size_t>(_nb_loci) * populations);
    std::size_t next_total = 0;
    std::size_t next_entry = 0;
    for (int l = 0; l < _nb_loci; ++l)
        for (int p = 0; p < populations; ++p) {
            const int n = _num_alleles_loci[l];
            std::int64_t* totals = &_running_total_block[next_total];
            next_total += static_cast<std::size_t>(n);
            std::int64_t running = 0;
            for (int h = 0; h < n; ++h) {
                running += _freq_haplotypes[l][p][h];
                totals[h] = running;
            }
            SampleDraws& draws = _sample_draws[static_cast<std::size_t>(l) * populations + p];
            draws = SampleDraws{totals, n, nullptr, false};
            const int size = _sample_sizes[l][p];
            if (size <= 0 || size > largest_tabled_sample || n <= 0)
                continue;
            std::int16_t* table = &_draw_table_block[next_entry];
            next_entry += static_cast<std::size_t>(size);
            // The numbers rise, so the haplotype each reaches is found by one
            // walk along the running totals (haplotype_reached for each).
            int reached = 0;
            for (int number = 1; number < size; ++number) {
                while (reached < n - 1 && totals[reached] < number)
                    ++reached;
                table[number] = static_cast<std::int16_t>(reached);
            }
            // Number 0 selects haplotype 0 when it is present and is drawn again
            // otherwise; in a sample of one copy only 0 can be drawn, so drawing
            // again would never end: it takes the one present haplotype instead.
            table[0] = static_cast<std::int16_t>(
                _freq_haplotypes[l][p][0] > 0 ? 0 : (size == 1 ? haplotype_reached(draws, 1) : -1));
            draws.haplotype_of_number = table;
            draws.table_holds_present_haplotypes = true;
            for (int number = 0; number < size; ++number)
                if (table[number] >= 0 && _freq_haplotypes[l][p][table[number]] <= 0)
                    draws.table_holds_present_haplotypes = false;
        }
    plan_copy_draw_skips();
}

// A sample whose table holds a haplotype for every number takes one generator
// step per copy; one whose table sends number 0 back (haplotype 0 absent) takes
// one step per copy and one per multiple of its size drawn. Consecutive samples
// of the first kind make one jump.
void Coef_Admixture::plan_copy_draw_skips()
{
    const int populations = _nb_parent_pops + 1;
    _copy_draw_skips.clear();
    _copy_draws_reservable = !plain_arithmetic_forced();
    corvane::GeneratorJump jump;
    for (int l = 0; l < _nb_loci && _copy_draws_reservable; ++l) {
        if (_num_alleles_loci[l] <= 0)
            continue;
        for (int p = 0; p < populations; ++p) {
            const SampleDraws& draws = _sample_draws[static_cast<std::size_t>(l) * populations + p];
            const int size = _sample_sizes[l][p];
            if (size <= 0)
                continue;
            if (!draws.haplotype_of_number || !draws.table_holds_present_haplotypes) {
                _copy_draws_reservable = false;
                break;
            }
            if (draws.haplotype_of_number[0] >= 0) {
                jump = corvane::followed_by(jump, corvane::generator_jump(static_cast<std::uint64_t>(size)));
                continue;
            }
            _copy_draw_skips.push_back({jump, size});
            jump = corvane::GeneratorJump{};
        }
    }
    _copy_draw_skips.push_back({jump, 0});
    if (!_copy_draws_reservable)
        _copy_draw_skips.clear();
}

std::uint32_t Coef_Admixture::reserve_copy_draws()
{
    const std::uint32_t start = corvane::generator::state;
    std::uint32_t state = start;
    for (const DrawSkip& skip : _copy_draw_skips) {
        state = corvane::jumped(state, skip.jump);
        if (skip.redrawing_sample_size > 0)
            state = corvane::state_after_draws_redrawing_multiples(state, skip.redrawing_sample_size,
                                                                    skip.redrawing_sample_size);
    }
    corvane::generator::state = state;
    return start;
}

// The first haplotype whose running total reaches the random number, kept
// within the haplotypes in use (a sample size above the sum of the counts is
// refused before any replicate).
int Coef_Admixture::haplotype_reached(const SampleDraws& draws, std::int64_t random_number) const
{
    const std::int64_t* end = draws.running_totals + draws.haplotypes;
    const std::int64_t* reached = std::lower_bound(draws.running_totals, end, random_number);
    return static_cast<int>(std::min<std::ptrdiff_t>(reached - draws.running_totals, draws.haplotypes - 1));
}

namespace {

// The draw by its definition, for the straightforward implementation: 0 selects
// haplotype 0 when it is present and is drawn again otherwise (a sample of one
// copy then takes its one present haplotype, as drawing again would never
// end); r walks the counts to the first haplotype whose running total reaches
// it, and stays within the haplotypes in use.
int walked_draw(const int* counts, int haplotypes, int sample_size, std::int64_t& random_number)
{
    if (random_number == 0 && counts[0] > 0)
        return 0;
    while (random_number == 0) {
        if (sample_size == 1) {
            random_number = 1;
            break;
        }
        random_number = random_below(sample_size);
    }
    std::int64_t correct_freq_interval = 0;
    for (int h = 0; h < haplotypes; ++h) {
        correct_freq_interval += counts[h];
        if (correct_freq_interval >= random_number)
            return h;
    }
    return haplotypes - 1;
}

// The n draws of a tabled sample whose every table entry is a present
// haplotype (so the guard of draw_haplotype never fires), each the haplotype of
// a random number as draw_haplotype finds it. The number modulo n is taken by a
// multiplication: for r and n below 2^16 and m = ceil(2^32 / n),
// floor(r m / 2^32) = floor(r / n), since r m / 2^32 exceeds r / n by less than
// r n / (n 2^32) < 1 / n, too little to pass the next multiple of 1 / n.
// The numbers come from the generator state given; the state after the last
// is returned.
std::uint32_t draw_tabled_sample(const std::int16_t* haplotype_of_number, int n, int* resampled,
                                 std::uint32_t state)
{
    const std::uint64_t reciprocal = ((std::uint64_t{1} << 32) + static_cast<std::uint64_t>(n) - 1) / n;
    for (int draw = 0; draw < n; ++draw) {
        int haplotype;
        do {
            state = corvane::next_state(state);
            const std::uint64_t number = static_cast<std::uint64_t>(corvane::output_of(state));
            const std::uint64_t quotient = (number * reciprocal) >> 32;
            haplotype = haplotype_of_number[number - quotient * static_cast<std::uint64_t>(n)];
        } while (haplotype < 0);
        ++resampled[haplotype];
    }
    return state;
}

}  // namespace

// One draw from the sample of `population` at `locus`: a random number r from 0
// to n-1; 0 selects haplotype 0 when it is present and is drawn again otherwise;
// r from 1 to n-1 selects the first haplotype whose running total reaches r.
int Coef_Admixture::draw_haplotype(int locus, int population, int sample_size)
{
    const int* counts = _freq_haplotypes[locus][population];
    const SampleDraws& draws = _sample_draws[static_cast<std::size_t>(locus) * (_nb_parent_pops + 1) + population];
    std::int64_t random_number = random_below(sample_size);
    int num_correct_allele = 0;
    if (plain_arithmetic_forced()) {
        num_correct_allele = walked_draw(counts, draws.haplotypes, sample_size, random_number);
    } else if (draws.haplotype_of_number) {
        num_correct_allele = draws.haplotype_of_number[random_number];
        while (num_correct_allele < 0) {
            random_number = random_below(sample_size);
            num_correct_allele = draws.haplotype_of_number[random_number];
        }
    } else if (random_number == 0 && counts[0] > 0) {
        num_correct_allele = 0;
    } else {
        // Samples this large (above the tabled sizes) always allow a number
        // other than 0, so drawing again ends.
        while (random_number == 0)
            random_number = random_below(sample_size);
        num_correct_allele = haplotype_reached(draws, random_number);
    }
    if (static_cast<double>(counts[num_correct_allele]) < 0.00001) {
        _dialogue->draw_found_no_copy(random_number);
    }
    return num_correct_allele;
}

void Coef_Admixture::write_log_in_background()
{
    if (_log_writer || !_replicate_blocks_logged)
        return;
    if (_log_detail != LogDetail::full) {
        _replicate_blocks_logged = false;
        _log = &_no_log;
        return;
    }
    if (plain_arithmetic_forced())
        return;
    try {
        _log_writer = std::make_unique<BlockLogWriter>(log_file);
        _log_blocks = std::make_unique<LogBlocks>(*_log_writer);
        _replicate_log = std::make_unique<std::ostream>(_log_blocks.get());
    } catch (const std::exception&) {
        _replicate_log.reset();
        _log_blocks.reset();
        _log_writer.reset();
        return;  // no thread to be had: the engine writes every line itself
    }
    _log = _replicate_log.get();
}

void Coef_Admixture::end_replicate_log()
{
    if (_log_blocks)
        _log_blocks->end_replicate();
}

void Coef_Admixture::finish_log_lines()
{
    if (!_log_writer)
        return;
    _log_blocks->end_replicate();
    _log_writer->finish();
    _replicate_log.reset();
    _log_blocks.reset();
    _log_writer.reset();
    _log = &log_file;
}

void Coef_Admixture::log_replicate_summary(int replicate, const float* estimates)
{
    if (_log_detail != LogDetail::summary)
        return;
    if (replicate == 1) {
        log_file << "-----" << std::endl;
        log_file << "Bootstrap replicates:" << std::endl;
    }
    _line << "Replicate " << replicate << ":";
    for (int p = 0; p < _nb_parent_pops; ++p) {
        _line << (p == 0 ? " mY" : ", mY") << p + 1 << " = ";
        _line.real(estimates[p]);
    }
    _line.end(log_file);
}

void Coef_Admixture::log_replicate_blocks(const std::string& text)
{
    log_file.write(text.data(), static_cast<std::streamsize>(text.size()));
    log_file.flush();
}

bool Coef_Admixture::log_written() const
{
    return _log_writer ? !_log_writer->failed() : static_cast<bool>(log_file);
}

// One locus-bootstrap replicate: L loci drawn with replacement, each a random
// number from 0 to L-1, and the log block that lists them in the order drawn
// (loci numbered from 0, as in the log's other blocks).
void Coef_Admixture::bootstrap_loci()
{
    draw_loci(_drawn_loci);
    if (_replicate_blocks_logged)
        log_blocks::bootstrapped_loci(log(), _line, _drawn_loci);
}

void Coef_Admixture::draw_loci(std::vector<int>& drawn) const
{
    drawn.resize(_nb_loci);
    for (int& locus : drawn)
        locus = static_cast<int>(even_random_below(_nb_loci));
}

int Coef_Admixture::bootstrap_pops()
{
    draw_copies(_freq_hap_boot);
    if (_replicate_blocks_logged)
        log_blocks::bootstrapped_frequencies(log(), _line, _nb_loci, _nb_parent_pops + 1, _num_alleles_loci,
                                             _freq_hap_boot);
    return 1;
}

// One replicate's counts: every sample drawn anew from its observed counts, in
// the order of the loci and, within a locus, of the populations.
void Coef_Admixture::draw_copies(int*** counts)
{
    for (int i = 0; i < _nb_loci; ++i)
        for (int j = 0; j <= _nb_parent_pops; ++j)
            std::fill(counts[i][j], counts[i][j] + _num_alleles_loci[i], 0);
    for (int i = 0; i < _nb_loci; ++i) {
        for (int j = 0; j <= _nb_parent_pops; ++j) {
            const int n = _sample_sizes[i][j];
            if (_num_alleles_loci[i] <= 0)
                continue;  // no haplotype to draw; the sample sizes check refuses this first
            const SampleDraws& draws = _sample_draws[static_cast<std::size_t>(i) * (_nb_parent_pops + 1) + j];
            if (draws.table_holds_present_haplotypes && !plain_arithmetic_forced()) {
                corvane::generator::state =
                    draw_tabled_sample(draws.haplotype_of_number, n, counts[i][j], corvane::generator::state);
                continue;
            }
            for (int draw = 0; draw < n; ++draw)
                ++counts[i][j][draw_haplotype(i, j, n)];
        }
    }
}

void Coef_Admixture::draw_copies_from(std::uint32_t start, int*** counts) const
{
    const int populations = _nb_parent_pops + 1;
    std::uint32_t state = start;
    for (int i = 0; i < _nb_loci; ++i) {
        for (int j = 0; j < populations; ++j) {
            std::fill(counts[i][j], counts[i][j] + _num_alleles_loci[i], 0);
            if (_num_alleles_loci[i] > 0 && _sample_sizes[i][j] > 0)
                state = draw_tabled_sample(
                    _sample_draws[static_cast<std::size_t>(i) * populations + j].haplotype_of_number,
                    _sample_sizes[i][j], counts[i][j], state);
        }
    }
}

void Coef_Admixture::compute_mean_sd_bootstrap()
{
    finish_log_lines();
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

int Coef_Admixture::de_allocate_space_for_bootstrap(int)
{
    finish_log_lines();
    release(_freq_hap_boot);
    _boot_count_rows.reset();
    _boot_count_block.reset();
    release(_admix_coef_mean_boot);
    release(_admix_coef_sd_boot);
    release(_admixture_coef_boot);
    _replicate_block.reset();
    release(_sample_draws);
    release(_running_total_block);
    release(_draw_table_block);
    release(_locus_tot_diff);
    release(_locus_count_diff);
    release(_locus_precise_tot);
    release(_locus_precise_count);
    release(_drawn_loci);
    return 1;
}
