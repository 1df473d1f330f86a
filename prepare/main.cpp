// corvane-prepare: writes corvane's data file and its key from sequences,
// microsatellite genotypes, allele tables, phased VCF or Arlequin projects.

#include <iostream>

#include "run_prepare.h"

int main(int argc, char** argv)
{
    return prepare::run_prepare(argc, argv, std::cout, std::cerr);
}
