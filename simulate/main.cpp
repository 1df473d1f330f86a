// corvane-simulate: draws a data set from the structured coalescent with an
// admixture pulse, writes it as a data file for corvane (with a key naming the
// populations when they have names), and reports the true admixture
// proportions on standard error.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <new>

#include "admixture_model.h"
#include "command_line.h"

namespace {

constexpr int failure_status = 1;
constexpr int usage_status = 2;

// The one error printer: every failure leaves through here.
int fail(int status, const std::string& message)
{
    std::cerr << "corvane-simulate: " << message << '\n';
    if (status == usage_status)
        std::cerr << "Run 'corvane-simulate --help' for the options and the model.\n";
    return status;
}

std::string reason_of(int error)
{
    return error != 0 ? std::string(": ") + std::strerror(error) : std::string();
}

// An output stream onto an open file descriptor that remembers the first
// failed write's errno.
class DescriptorBuffer : public std::streambuf {
public:
    explicit DescriptorBuffer(int descriptor) : descriptor_(descriptor) { setp(buffer_, buffer_ + sizeof buffer_); }
    int error() const { return error_; }

protected:
    int_type overflow(int_type c) override
    {
        if (!drain())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof()))
            sputc(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }
    int sync() override { return drain() ? 0 : -1; }

private:
    bool drain()
    {
        for (const char* next = pbase(); next < pptr();) {
            const ssize_t written = ::write(descriptor_, next, static_cast<std::size_t>(pptr() - next));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                error_ = written < 0 ? errno : EIO;
                return false;
            }
            next += written;
        }
        setp(buffer_, buffer_ + sizeof buffer_);
        return true;
    }

    int descriptor_;
    int error_ = 0;
    char buffer_[1 << 16];
};

// A new file beside `path`, created exclusively so that it can never be an
// existing file or a link someone placed there; its name comes back in `name`.
int create_beside(const std::string& path, std::string& name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = path + ".partial." + std::to_string(::getpid()) + (attempt ? "." + std::to_string(attempt) : "");
        const int descriptor = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor >= 0 || errno != EEXIST)
            return descriptor;
    }
    errno = EEXIST;
    return -1;
}

// A path that names a device, a pipe or another file that is not a regular
// one (/dev/null, /dev/stdout) is written in place: it cannot be replaced.
bool written_in_place(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
}

// Writes one output file under a temporary name beside its own, so that an
// existing file keeps its contents until the new one is whole; returns the
// temporary name, or "" when the path is written in place. A failure removes
// what was begun.
template <typename Write>
std::string write_beside(const std::string& path, const char* what, Write write)
{
    if (written_in_place(path)) {
        errno = 0;
        std::ofstream file(path);
        if (file)
            write(file);
        file.close();
        if (!file)
            throw std::runtime_error("cannot write the " + std::string(what) + " \"" + path + "\"" + reason_of(errno));
        return "";
    }
    std::string partial;
    const int descriptor = create_beside(path, partial);
    if (descriptor < 0)
        throw std::runtime_error("cannot create the " + std::string(what) + " \"" + path + "\"" + reason_of(errno));
    DescriptorBuffer buffer(descriptor);
    std::ostream out(&buffer);
    write(out);
    out.flush();
    int error = buffer.error();
    if (::close(descriptor) != 0 && error == 0)
        error = errno;
    if (!out || error != 0) {
        std::remove(partial.c_str());
        throw std::runtime_error("cannot write the " + std::string(what) + " \"" + path + "\"" +
                                 reason_of(error));
    }
    return partial;
}

std::string shell_quoted(const std::string& word)
{
    const bool plain = !word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                               "0123456789_-+=.,:/@%") == std::string::npos;
    if (plain)
        return word;
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::vector<std::string> key_header(const dataset::DataSet& data, const simulate::Request& request, int argc,
                                    char** argv)
{
    std::string command = "corvane-simulate";
    for (int i = 1; i < argc; ++i)
        command += " " + shell_quoted(argv[i]);
    std::string parents;
    for (std::size_t p = 1; p < data.populations.size(); ++p)
        parents += (p > 1 ? ", " : "") + data.populations[p] + " (mY" + std::to_string(p) + ")";
    return {std::string("corvane-simulate ") + CORVANE_SIMULATE_VERSION, "command: " + command,
            "data file: " + (request.output_path.empty() ? std::string("standard output") : request.output_path),
            "hybrid: " + data.populations[0] + "; parents: " + parents};
}

// The data file and its key come as a pair: both are written beside their
// names and moved into place only when both are whole.
void write_files(const simulate::Request& request, const dataset::DataSet& data,
                 const std::vector<std::string>& key_header)
{
    if (request.output_path.empty()) {
        dataset::write_data_file(std::cout, data);
        if (!std::cout.flush())
            throw std::runtime_error("cannot write the data to standard output");
    }
    std::string data_partial, key_partial;
    try {
        if (!request.output_path.empty())
            data_partial = write_beside(request.output_path, "data file",
                                        [&](std::ostream& out) { dataset::write_data_file(out, data); });
        if (!request.key_path.empty())
            key_partial = write_beside(request.key_path, "key file", [&](std::ostream& out) {
                dataset::write_key_file(out, data, key_header);
            });
    } catch (...) {
        if (!data_partial.empty())
            std::remove(data_partial.c_str());
        throw;
    }
    for (const auto& [partial, path] : {std::pair{&data_partial, &request.output_path},
                                        std::pair{&key_partial, &request.key_path}})
        if (!partial->empty() && std::rename(partial->c_str(), path->c_str()) != 0) {
            const int error = errno;
            std::remove(data_partial.c_str());
            std::remove(key_partial.c_str());
            throw std::runtime_error("cannot put the file \"" + *path + "\" in place" + reason_of(error));
        }
}

// The machine's physical memory in bytes, or 0 when it cannot be told.
std::uint64_t physical_memory_bytes()
{
    std::ifstream meminfo("/proc/meminfo");
    std::string key, unit;
    std::uint64_t kibibytes = 0;
    while (meminfo >> key >> kibibytes >> unit)
        if (key == "MemTotal:")
            return kibibytes * 1024;
    return 0;
}

// Refuses, before anything is drawn, a data set that cannot fit in memory.
void refuse_beyond_memory(const simulate::Scenario& scenario)
{
    const long double needed = simulate::least_memory_bytes(scenario);
    const std::uint64_t memory = physical_memory_bytes();
    if (memory == 0 || needed <= static_cast<long double>(memory))
        return;
    const auto megabytes = [](long double bytes) { return dataset::real_text(static_cast<double>(bytes / 1e6L)); };
    throw std::runtime_error(std::to_string(scenario.loci) + " loci of " + std::to_string(scenario.copies.size()) +
                             " populations need at least " + megabytes(needed) +
                             " MB of memory, more than this machine's " + megabytes(memory) +
                             " MB: choose fewer --loci or --copies");
}

void report_true_proportions(const simulate::Scenario& scenario, bool named)
{
    std::cerr << "True admixture proportions (seed " << scenario.seed << "):";
    for (std::size_t k = 0; k < scenario.mix.size(); ++k)
        std::cerr << (k ? ", " : " ") << (named ? scenario.tree.leaf(k).name : "mY" + std::to_string(k + 1))
                  << " = " << dataset::real_text(scenario.mix[k]);
    std::cerr << '\n';
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        const std::optional<simulate::Request> request = simulate::parse_command_line(argc, argv, std::cout);
        if (!request)
            return 0;
        refuse_beyond_memory(request->scenario);
        const dataset::DataSet data = simulate::simulate_data_set(request->scenario);
        write_files(*request, data, key_header(data, *request, argc, argv));
        report_true_proportions(request->scenario, request->named_populations);
        return 0;
    } catch (const simulate::UsageError& error) {
        return fail(usage_status, error.what());
    } catch (const simulate::UnwritableLocus& error) {
        return fail(failure_status,
                    std::string(error.what()) + ". No file was written; choose a smaller --theta or fewer --copies.");
    } catch (const std::bad_alloc&) {
        return fail(failure_status, "not enough memory for the simulated data set: choose fewer --loci or --copies");
    } catch (const std::exception& error) {
        return fail(failure_status, error.what());
    }
}
