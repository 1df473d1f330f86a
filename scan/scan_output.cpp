#include "scan_output.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "errors.h"
#include "number_format.h"

namespace scan {

namespace {

template <class Number>
std::string joined(const std::vector<Number>& values)
{
    if (values.empty())
        return "NA";
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i)
        text += (i ? "," : "") + format_real(static_cast<double>(values[i]));
    return text;
}

// A note as one table cell: no tab and no line break inside.
std::string cell_text(const std::string& note)
{
    if (note.empty())
        return "NA";
    std::string text = note;
    for (char& ch : text)
        if (ch == '\t' || ch == '\n' || ch == '\r')
            ch = ' ';
    return text;
}

int rank_of(const ModelResult& result)
{
    if (!result.refused.empty())
        return 2;
    return result.feasible ? 0 : 1;
}

}  // namespace

void sort_models(std::vector<ModelResult>& results)
{
    std::stable_sort(results.begin(), results.end(), [](const ModelResult& a, const ModelResult& b) {
        if (rank_of(a) != rank_of(b))
            return rank_of(a) < rank_of(b);
        if (a.fitted != b.fitted)
            return a.fitted;
        return a.fitted && a.p > b.p;
    });
}

std::string sources_text(const ModelResult& result, const std::vector<std::string>& names)
{
    std::string text;
    for (std::size_t k = 0; k < result.sources.size(); ++k)
        text += (k ? "," : "") + names[static_cast<std::size_t>(result.sources[k])];
    return text;
}

std::string table_text(const std::vector<ModelResult>& results, const std::vector<std::string>& names,
                       bool bootstrap)
{
    std::string text = "sources\tmY\tse";
    if (bootstrap)
        text += "\tboot_mean\tq2.5\tq97.5";
    text += "\tQ\tdf\tp\tfeasible\trefused\n";
    for (const ModelResult& result : results) {
        text += sources_text(result, names) + "\t" + joined(result.mY) + "\t" + joined(result.standard_errors);
        if (bootstrap)
            text += "\t" + joined(result.bootstrap_means) + "\t" + joined(result.quantile_2_5) + "\t" +
                    joined(result.quantile_97_5);
        text += "\t" + (result.fitted ? format_real(result.Q) : std::string("NA"));
        text += "\t" + std::to_string(result.references.size());
        text += "\t" + (result.fitted ? format_real(result.p) : std::string("NA"));
        text += std::string("\t") + (result.feasible ? "yes" : "no");
        text += "\t" + cell_text(result.refused) + "\n";
    }
    return text;
}

void write_whole_file(const std::string& path, const std::string& contents)
{
    std::string temporary = path + ".XXXXXX";
    const int file = ::mkstemp(temporary.data());
    if (file < 0)
        throw RunError("cannot create a file beside " + quoted(path) + ": " + std::generic_category().message(errno));
    std::size_t written = 0;
    while (written < contents.size()) {
        const ssize_t wrote = ::write(file, contents.data() + written, contents.size() - written);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            const int error = errno;
            ::close(file);
            ::unlink(temporary.c_str());
            throw RunError("cannot write " + quoted(path) + ": " + std::generic_category().message(error));
        }
        written += static_cast<std::size_t>(wrote);
    }
    // mkstemp makes the file readable by its owner only; an output file is as
    // readable as any the program writes.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(file, 0666 & ~mask);
    if (::close(file) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        throw RunError("cannot write " + quoted(path) + ": " + std::generic_category().message(error));
    }
}

}  // namespace scan
