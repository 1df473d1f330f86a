#ifndef CORVANE_USAGE_HINTS_H
#define CORVANE_USAGE_HINTS_H

#include <string>
#include <vector>

// Messages that say what to do next, for the mistakes a new user makes first.

// When `path` holds a Genepop, FASTA, VCF or Arlequin file (or a compressed
// one) rather than a data file, the advice to convert it with corvane-prepare,
// naming the option; "" otherwise. A data file begins with two numbers, so a
// file whose first word is a number is never taken for another format.
std::string foreign_format_advice(const std::string& path);

// The known option closest to `unknown` ("--bootstrp" -> "--bootstrap"), or ""
// when none is within a few typed characters of it.
std::string closest_option(const std::string& unknown, const std::vector<std::string>& known);

#endif
