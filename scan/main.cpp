// corvane-scan: tries sets of source populations for a hybrid population from
// the candidates of one data file, estimates each with corvane's arithmetic and
// tests its fit against the candidates left out.

#include <iostream>
#include <string>
#include <vector>

#include "scan_run.h"

int main(int argc, char** argv)
{
    return scan::run_scan(std::vector<std::string>(argv, argv + argc), std::cout, std::cerr);
}
