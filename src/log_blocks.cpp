#include "log_blocks.h"

#include <cstddef>

namespace log_blocks {

void bootstrapped_frequencies(std::ostream& out, TextLine& line, int loci, int populations,
                              const int* haplotypes_per_locus, const int* const* const* counts)
{
    out << "-----" << std::endl;
    out << "Bootstrapped frequencies:" << std::endl;
    for (int i = 0; i < loci; ++i) {
        (line << "Locus " << i << ":").end(out);
        for (int p = 0; p < populations; ++p) {
            line << "Population " << p << ": ";
            for (int h = 0; h < haplotypes_per_locus[i]; ++h)
                line << counts[i][p][h] << ' ';
            line.end(out);
        }
    }
}

void bootstrapped_loci(std::ostream& out, TextLine& line, const std::vector<int>& drawn_loci)
{
    out << "-----" << std::endl;
    out << "Bootstrapped loci:" << std::endl;
    for (const int locus : drawn_loci)
        line << locus << ' ';
    line.end(out);
}

void coalescence_times(std::ostream& out, TextLine& line, int n, float time_since_admixture, const float* tot,
                       const float* count, const float* H, const float* const* P)
{
    const int populations = n + 1;
    out << "-----" << std::endl;
    line << "Time to admix event: ";
    line.real(time_since_admixture).end(out);
    for (int k = 0; k < n; ++k) {
        line << "Hybrid-parental " << k << ": Tot_diff:";
        line.real(tot[k + 1]) << " Count_diff:";
        line.real(count[k + 1]) << " Times:";
        line.real(H[k]).end(out);
    }
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j) {
            const std::size_t cell = static_cast<std::size_t>(i + 1) * populations + (j + 1);
            line << "Parentals " << j << "," << i << ": Tot_diff:";
            line.real(tot[cell]) << " Count_diff:";
            line.real(count[cell]) << " Times:";
            line.real(P[i][j]).end(out);
        }
}

void linear_equations(std::ostream& out, TextLine& line, int n, const float* const* M, const float* v)
{
    const int r = n - 1;
    out << "-----" << std::endl;
    out << "Linear equations of admixture coefficients !" << std::endl;
    for (int j = 0; j < r; ++j) {
        for (int k = 0; k < r; ++k) {
            line.real(M[j][k]) << "mu" << k + 1;
            if (k != r - 1)
                line << '+';
        }
        line << '=';
        line.real(v[j]).end(out);
    }
}

}  // namespace log_blocks
