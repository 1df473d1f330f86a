#include <iostream>

#include "run_driver.h"

int main()
{
    return run_corvane(std::cin, std::cout);
}
