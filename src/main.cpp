#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "command_line.h"
#include "run_driver.h"

// Without arguments the program holds its console dialogue; with arguments it
// runs once from the command line.
int main(int argc, char** argv)
{
    if (argc <= 1)
        return run_corvane(std::cin, std::cout);
    const std::vector<std::string> arguments(argv, argv + argc);
    return run_command_line(arguments, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
