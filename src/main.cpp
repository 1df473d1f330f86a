#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include <iostream>
#include <string>
#include <vector>

#include "command_line.h"
#include "interruption.h"
#include "run_driver.h"

namespace {

// A standard stream that the caller closed (`>&-`) is given a descriptor that
// can be neither read nor written, so that no file the run opens takes its
// number and receives what was meant for that stream: writing to it fails, and
// the failure is noticed.
void keep_closed_standard_streams_closed()
{
    for (int stream = 0; stream <= 2; ++stream)
        if (::fcntl(stream, F_GETFD) < 0)
            ::open("/dev/null", stream == 0 ? O_WRONLY : O_RDONLY);  // takes the lowest free number
}

// A run touches most of its memory once: the data file, the distances, the
// echo, each thread's working set. Every first touch of a 4 KiB page is a
// fault, and on a virtual machine a fault costs some 10 microseconds; a run on
// a 700-locus file took about 2000 of them, most in the part that reads the
// file and runs on one thread. So the heap grows by a large first step,
// backed by 2 MiB pages where the system allows it, and buffers up to
// 4 MiB (a data file of that size, the echo's pieces) come from the heap
// instead of mappings of their own. Larger buffers keep their own mappings,
// which grow without a copy. Nothing the run computes or writes depends on
// this; where the system refuses, the pages stay small. The run's threads take
// their memory from this one heap too: a thread's heap of its own would start
// empty, and each of its pages would be a fault, while the run's threads make
// few allocations (none in a replicate) that could wait on one another.
void back_the_heap_with_large_pages()
{
    constexpr int buffers_from_the_heap = 4 << 20;
    constexpr int first_heap_step = 64 << 20;
    constexpr int usual_heap_step = 128 << 10;
    constexpr std::uintptr_t large_page = 2 << 20;
    mallopt(M_MMAP_THRESHOLD, buffers_from_the_heap);
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_TRIM_THRESHOLD, 2 * first_heap_step);
    // A first block larger than what the heap holds after start-up makes it
    // grow by the whole first step now, so that the step can be marked at
    // once. Later steps are the usual small ones, so that a limit on the
    // address space (ulimit -v) is met no sooner than without the first step.
    mallopt(M_TOP_PAD, first_heap_step);
    void* first_block = std::malloc(1 << 20);
    mallopt(M_TOP_PAD, usual_heap_step);
    if (first_block == nullptr)
        return;
    const auto first = reinterpret_cast<std::uintptr_t>(first_block);
    const auto heap_end = reinterpret_cast<std::uintptr_t>(::sbrk(0));
    // Under a memory checker the block lies elsewhere than the program break:
    // then nothing is marked.
    const bool block_in_heap_step = heap_end != static_cast<std::uintptr_t>(-1) && first < heap_end &&
                                    heap_end - first <= static_cast<std::uintptr_t>(2 * first_heap_step);
    const std::uintptr_t start = (first + large_page - 1) & ~(large_page - 1);
    const std::uintptr_t end = heap_end & ~(large_page - 1);
    if (block_in_heap_step && end > start)
        ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
    std::free(first_block);
}

}  // namespace

// Without arguments the program holds its console dialogue; with arguments it
// runs once from the command line.
int main(int argc, char** argv)
{
    back_the_heap_with_large_pages();
    keep_closed_standard_streams_closed();
    if (argc <= 1)
        return run_corvane(std::cin, std::cout);
    note_interruptions();
    const std::vector<std::string> arguments(argv, argv + argc);
    return run_command_line(arguments, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
