#ifndef CORVANE_ESTIMATE_CORE_H
#define CORVANE_ESTIMATE_CORE_H

// The estimate itself, as functions over plain arrays: the pair sums of each
// locus (see pair_sums.h) -> mean coalescence times -> the normal equations ->
// their solution without pivoting, and beside it the same estimate computed
// precisely, which decides whether the single-precision digits can be trusted.
//
// The estimator record calls these for its one set of parental populations; the
// model scan calls them for many sets drawn from one table of pair sums over all
// populations. Nothing here writes a file or allocates per estimate.
//
// The arithmetic of the reported estimate: every stored value is a float and
// every expression is evaluated in long double (the 64-bit-significand extended
// type on x86-64) and rounded once when stored.

#include <cstddef>
#include <string>
#include <vector>

namespace estimate_core {

// Which rows of a pair-sum table take part in one estimate. The tables are
// square, `table_populations` rows and columns, indexed [row * table_populations
// + column], both triangles filled; the hybrid's row and the parents' rows are
// chosen, the parents in the order of their proportions.
struct PopulationChoice {
    int table_populations = 0;
    int hybrid_row = 0;
    const int* parent_rows = nullptr;  // parent_count entries
    int parent_count = 0;

    std::size_t cell(int row, int column) const
    {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(table_populations) +
               static_cast<std::size_t>(column);
    }
};

// The choice of every population of a data file: the hybrid in row 0, parent k
// in row k + 1. `rows` receives the parents' rows and must outlive the choice.
PopulationChoice every_population(int parents, std::vector<int>& rows);

// ---------------------------------------------------------------------------
// The reported estimate. n is the number of parents; H has n entries, P, M are
// n x n (row pointers), v and mY n entries.

// H and P set to 0 before the loci are added.
void clear_times(int n, float* H, float** P);

// Adds one locus's mean distances, its pair sums over its pair counts in
// extended precision, to the running times, each sum rounded to a float.
void add_locus_means(const PopulationChoice& choice, const float* tot, const float* count, float* H, float** P);

// Divides the running times by the number of loci (not-a-number without loci).
void finish_times(int n, int loci, float* H, float** P);

// True when every pair of distinct parents has a mean time other than zero.
bool distinct_parents_apart(int n, const float* const* P);

// Adds 2 x T x mu to each parent's own time.
void add_admixture_term(int n, float time_since_admixture, float mutation_rate, float** P);

// The normal equations of the least-squares fit of the hybrid's times by the
// parents' times under the constraint that the proportions sum to one: rows and
// columns 0 .. n-2 of M and entries 0 .. n-2 of v; the rest set to 0.
void form_equations(int n, const float* const* P, const float* H, float** M, float* v);

// Gaussian elimination without pivoting and back substitution of the n x n
// system a x = b; a and b are overwritten. 0 when a pivot is zero or not finite
// (x is then incomplete), 1 otherwise.
int solve_without_pivoting(int n, float** a, float* b, float* x);

// The last of the n proportions: one minus the sum of the others.
void complete_proportions(int n, float* mY);

// ---------------------------------------------------------------------------
// The precise estimate mY*: the pair sums before any rounding to single
// precision (PairSums::compute's precise tables), the times and 2 x T x mu in
// double, the normal equations and their solution in long double with partial
// pivoting.

class PreciseEstimate {
public:
    // Storage for up to `most_parents` parents, made once.
    explicit PreciseEstimate(int most_parents = 0);
    void reserve(int most_parents);

    // The times, as for the reported estimate.
    void start(int n);
    void add_locus(const PopulationChoice& choice, const double* tot, const double* count);
    void finish(int loci, float time_since_admixture, float mutation_rate);

    // Solves the normal equations; false when they are singular at the level of
    // long-double rounding (or not finite). Then mY_star() holds the n proportions.
    bool solve();
    const double* proportions() const { return _mY.data(); }
    const double* hybrid_times() const { return _H.data(); }
    const double* parental_times() const { return _P.data(); }  // n x n, row-major
    int parents() const { return _n; }

private:
    int _n = 0;
    std::vector<double> _H, _P, _mY;
    std::vector<long double> _system;  // (n-1) x n: the equations with their constant terms
};

// How far the reported proportions lie from the precise ones.
struct Agreement {
    bool precise_singular = false;
    double disagreement = 0;  // max_k |mY_k - mY*_k|
    double allowed = 0;       // 10^-3 x max(1, max_k |mY*_k|)
    bool refused() const { return precise_singular || !(disagreement <= allowed); }
};

// Compares the n reported proportions with the precise estimate, solving it.
Agreement measure_agreement(int n, const float* mY, PreciseEstimate& precise);

// One message line (ending with a newline) that says why an estimate was
// refused and what to do.
std::string refusal_line(const Agreement& agreement);

}  // namespace estimate_core

#endif
