#include <fcntl.h>
#include <unistd.h>

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

}  // namespace

// Without arguments the program holds its console dialogue; with arguments it
// runs once from the command line.
int main(int argc, char** argv)
{
    keep_closed_standard_streams_closed();
    if (argc <= 1)
        return run_corvane(std::cin, std::cout);
    note_interruptions();
    const std::vector<std::string> arguments(argv, argv + argc);
    return run_command_line(arguments, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
