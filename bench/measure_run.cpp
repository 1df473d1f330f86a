// measure_run: runs one program and appends "wall_seconds cpu_seconds peak_kb"
// to a file; the benchmark's stopwatch.
//
//   measure_run TIMES_FILE [NAME=VALUE ...] PROGRAM [ARGUMENT ...]
//
// The clock starts just before the program is started and stops when it has
// been reaped, so that a run's time is the program's own: starting it, its
// work and its exit. Timing a program from the shell with `date` on each side
// and `env` and `time` in between also counted those three programs' own
// starts and exits, some 12 ms per run on the 2-core machine, as much as a
// third of a short run's time on two threads. CPU time (user and system) and
// peak memory are the program's, from wait4's resource usage. The exit status
// is the program's (128 plus the signal's number when a signal ended it).
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

extern char** environ;

namespace {

double seconds_now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double seconds_of(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

bool is_setting(const char* argument)
{
    const char* equals = std::strchr(argument, '=');
    return equals != nullptr && equals != argument && argument[0] != '-' && argument[0] != '/';
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: measure_run TIMES_FILE [NAME=VALUE ...] PROGRAM [ARGUMENT ...]\n");
        return 2;
    }
    int first = 2;
    for (; first < argc && is_setting(argv[first]); ++first)
        putenv(argv[first]);
    if (first == argc) {
        std::fprintf(stderr, "measure_run: no program to run\n");
        return 2;
    }
    const double start = seconds_now();
    pid_t child = 0;
    const int spawn_error = posix_spawnp(&child, argv[first], nullptr, nullptr, argv + first, environ);
    if (spawn_error != 0) {
        std::fprintf(stderr, "measure_run: %s could not be started: %s\n", argv[first], std::strerror(spawn_error));
        return 127;
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0)
        if (errno != EINTR) {
            std::perror("measure_run: wait4");
            return 2;
        }
    const double wall = seconds_now() - start;
    std::FILE* times = std::fopen(argv[1], "a");
    if (times == nullptr || std::fprintf(times, "%.4f %.4f %ld\n", wall,
                                         seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime),
                                         usage.ru_maxrss) < 0 ||
        std::fclose(times) != 0) {
        std::fprintf(stderr, "measure_run: the times could not be written to %s\n", argv[1]);
        return 2;
    }
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
