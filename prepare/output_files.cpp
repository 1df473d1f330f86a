// The output files of corvane-prepare are written under names no other file has
// and renamed into place by the caller.

#include "output_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <streambuf>
#include <vector>

#include "errors.h"

namespace prepare {

namespace {

// An output stream over a file descriptor, so that a file created exclusively
// (O_EXCL) can be written with the writer's stream operators.
class DescriptorBuffer : public std::streambuf {
public:
    explicit DescriptorBuffer(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }
    bool failed() const { return failed_; }

protected:
    int overflow(int c) override
    {
        if (sync() != 0)
            return traits_type::eof();
        if (c != traits_type::eof()) {
            *pptr() = static_cast<char>(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override
    {
        for (const char* next = pbase(); next < pptr();) {
            const ssize_t written = ::write(fd_, next, static_cast<std::size_t>(pptr() - next));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                failed_ = true;
                return -1;
            }
            next += written;
        }
        setp(buffer_, buffer_ + sizeof buffer_);
        return 0;
    }

private:
    int fd_;
    bool failed_ = false;
    char buffer_[1 << 16];
};

// A new file beside `path`, under a name no other file has (created with O_EXCL),
// so that it can neither replace an input nor write through a link; its
// permissions are those of an ordinary new file.
int create_beside(const std::string& path, std::string& name)
{
    std::vector<char> pattern(path.begin(), path.end());
    const std::string suffix = ".partial-XXXXXX";
    pattern.insert(pattern.end(), suffix.begin(), suffix.end());
    pattern.push_back('\0');
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return fd;
    try {
        name = pattern.data();
    } catch (...) {  // memory ran out: the new file must not stay behind
        ::close(fd);
        ::unlink(pattern.data());
        throw;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    return fd;
}

}  // namespace

std::string write_beside(const std::string& path, const char* what, const std::function<void(std::ostream&)>& write)
{
    std::string partial;
    const int fd = create_beside(path, partial);
    bool written = fd >= 0;
    if (written) {
        try {
            DescriptorBuffer buffer(fd);
            std::ostream out(&buffer);
            write(out);
            out.flush();
            written = out.good() && !buffer.failed();
        } catch (...) {
            ::close(fd);
            std::remove(partial.c_str());
            throw;
        }
        written = ::close(fd) == 0 && written;
        if (!written)
            std::remove(partial.c_str());
    }
    if (!written)
        throw DataError("the " + std::string(what) + " " + quoted(path) + " could not be written");
    return partial;
}

}  // namespace prepare
