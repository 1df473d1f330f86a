#ifndef CORVANE_LOG_BLOCKS_H
#define CORVANE_LOG_BLOCKS_H

#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "number_format.h"

// The log blocks a bootstrap replicate writes, each opened by "-----", built
// line by line in the given TextLine (one per thread) and written to `out`. The
// estimator record and the threads that estimate replicates write them through
// these same functions, so the bytes cannot differ.
namespace log_blocks {

// "Bootstrapped frequencies:" and per locus its number and one line of counts
// per population, each count followed by a blank.
void bootstrapped_frequencies(std::ostream& out, TextLine& line, int loci, int populations,
                              const int* haplotypes_per_locus, const int* const* const* counts);

// "Bootstrapped loci:" and the loci drawn, in the order drawn, each followed by
// a blank.
void bootstrapped_loci(std::ostream& out, TextLine& line, const std::vector<int>& drawn_loci);

// The mean coalescence times of n parents, with the pair sums and pair counts
// of the last locus ((n+1) x (n+1), row-major, the hybrid in row 0).
void coalescence_times(std::ostream& out, TextLine& line, int n, float time_since_admixture, const float* tot,
                       const float* count, const float* H, const float* const* P);

// The n-1 normal equations, "M[j][0]mu1+M[j][1]mu2...=v[j]".
void linear_equations(std::ostream& out, TextLine& line, int n, const float* const* M, const float* v);

// A stream buffer that appends everything written to a string, flushes
// included, for the log blocks of a replicate estimated on a thread of its own.
class TextGatherer : public std::streambuf {
public:
    void gather_into(std::string* text) { _text = text; }

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override
    {
        _text->append(text, static_cast<std::size_t>(count));
        return count;
    }
    int_type overflow(int_type ch) override
    {
        if (!traits_type::eq_int_type(ch, traits_type::eof()))
            _text->push_back(traits_type::to_char_type(ch));
        return traits_type::not_eof(ch);
    }

private:
    std::string* _text = nullptr;
};

}  // namespace log_blocks

#endif
