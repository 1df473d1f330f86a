// libFuzzer target: one whole run of the program per input, in process.
//
// An input is what the user types on the console, then optionally the line
// "--- data file ---", then the bytes of a data file. The data file bytes are
// written to "data.txt" in a private temporary working folder; the console
// bytes are fed to run_corvane as they are, so the first word typed names the
// file to open (normally data.txt, but any other name is tried too).
//
// Only this harness limits what a run may cost: an input whose numbers would
// make a valid run long (many parental populations or loci, large samples times
// many bootstrap replicates) is skipped before the run. The program itself
// keeps its full limits.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <system_error>
#include <unistd.h>

#include "console_input.h"
#include "data_file_tokens.h"
#include "run_driver.h"
#include "whole_number.h"

namespace {

const std::string data_separator = "--- data file ---\n";
const char* const data_file_name = "data.txt";

// Caps on what one input may cost.
constexpr long long max_parental_populations = 8;
constexpr long long max_loci = 4;
constexpr long long max_replicates = 200;
constexpr long long max_bootstrap_work = 2000000;  // replicates x (copies drawn + counts logged)

std::filesystem::path work_folder;
std::filesystem::path fuzzer_folder;  // libFuzzer's own files are named relative to it

// Console output is thrown away: only what the run does matters here.
class DiscardBuffer : public std::streambuf {
protected:
    int_type overflow(int_type ch) override { return traits_type::not_eof(ch); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

// The data file's tokens as the program cuts them, with the reads the caps need.
class Tokens : public DataFileTokens {
public:
    using DataFileTokens::DataFileTokens;

    // A whole token read as the program reads a whole number; false when the
    // token is missing or is not wholly a 32-bit whole number (the program then
    // refuses the file at this token, so nothing after it costs anything).
    bool whole(long long& value)
    {
        std::string token;
        int converted = 0;
        if (!next(token) || parse_whole_token(token, converted) != WholeNumberScan::ok)
            return false;
        value = converted;
        return true;
    }

    bool skip(long long count)
    {
        std::string token;
        for (long long i = 0; i < count; ++i)
            if (!next(token))
                return false;
        return true;
    }
};

// The replicate count the run would read on its way, following the order of the
// questions: file name, molecular divergence, bootstrap, count.
long long typed_replicates(const std::string& console, std::string& file_name)
{
    std::istringstream in(console);
    ConsoleInput answers(in);
    char molecular = 0;
    char bootstrap = 0;
    int replicates = 0;
    if (!answers.read_word(file_name) || !answers.read_char(molecular) || !answers.read_char(bootstrap))
        return 0;
    if (bootstrap != 'y' && bootstrap != 'Y')
        return 0;
    if (!answers.read_int(replicates))
        return 0;
    return replicates;
}

// True when a run on this input stays cheap.
bool within_caps(const std::string& console, const std::string& data)
{
    std::string file_name;
    const long long replicates = typed_replicates(console, file_name);
    // The run stays inside its working folder.
    if (file_name.find('/') != std::string::npos)
        return false;
    if (replicates > max_replicates)
        return false;

    Tokens tokens(data);
    long long P = 0;
    long long L = 0;
    if (!tokens.skip(2) || !tokens.whole(P) || !tokens.whole(L))
        return true;
    if (P > max_parental_populations || L > max_loci)
        return false;
    if (P < 2 || L < 1)
        return true;
    long long haplotypes[max_loci] = {};
    for (long long l = 0; l < L; ++l) {
        if (!tokens.skip(1) || !tokens.whole(haplotypes[l]))
            return true;
        if (haplotypes[l] < 0 || haplotypes[l] > 1000 || !tokens.skip(haplotypes[l] * (haplotypes[l] + 1) / 2))
            return true;
    }
    if (replicates <= 0)
        return true;
    long long work = 0;
    for (long long l = 0; l < L; ++l) {
        if (!tokens.skip(1))
            return true;
        for (long long p = 0; p <= P; ++p) {
            long long size = 0;
            if (!tokens.whole(size))
                return true;
            if (size > 0)
                work += size;
        }
        work += haplotypes[l] * (P + 1);
        if (work * replicates > max_bootstrap_work)
            return false;
    }
    return true;
}

void empty_work_folder()
{
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(work_folder, ignored))
        std::filesystem::remove_all(entry.path(), ignored);
}

void remove_work_folder()
{
    std::error_code ignored;
    std::filesystem::remove_all(work_folder, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "corvane-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        std::abort();
    work_folder = pattern;
    fuzzer_folder = std::filesystem::current_path();
    std::atexit(remove_work_folder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(bytes), size);
    const std::size_t separator = input.find(data_separator);
    const bool has_data = separator != std::string::npos;
    const std::string console = input.substr(0, separator);
    const std::string data = has_data ? input.substr(separator + data_separator.size()) : std::string();
    if (!within_caps(console, data))
        return -1;  // too costly to run: not kept in the corpus

    std::filesystem::current_path(work_folder);
    empty_work_folder();
    if (has_data) {
        std::ofstream data_file(data_file_name, std::ios::binary | std::ios::trunc);
        data_file << data;
    }
    {
        std::istringstream console_in(console);
        DiscardBuffer discard;
        std::ostream console_out(&discard);
        const int status = run_corvane(console_in, console_out, console_out);
        // A run ends complete (1), with its report, or by an error stop (0),
        // without one: never a failure reported as success, never the reverse.
        const bool report_written = std::filesystem::exists("result_admix.txt");
        if (!((status == 1 && report_written) || (status == 0 && !report_written)))
            std::abort();
        // A report holds numbers, never an infinity or a not-a-number.
        if (report_written) {
            std::ifstream report_file("result_admix.txt", std::ios::binary);
            const std::string report((std::istreambuf_iterator<char>(report_file)), std::istreambuf_iterator<char>());
            if (report.find("INF") != std::string::npos || report.find("NAN") != std::string::npos)
                std::abort();
        }
    }
    empty_work_folder();
    std::filesystem::current_path(fuzzer_folder);
    return 0;
}
