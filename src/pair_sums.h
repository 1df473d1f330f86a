#ifndef CORVANE_PAIR_SUMS_H
#define CORVANE_PAIR_SUMS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

// The pair sums of one locus: for every pair of populations (p, q), p <= q,
// the number of pairs of haplotype copies, one taken from each population (two
// distinct copies within one population), and the sum of their distances. Both
// are single-precision values; each term is added in extended precision and the
// running value rounded to single precision after every addition, the terms of
// each pair taken in the order of the haplotype pairs (x, y), x <= y.
//
// The plain arithmetic does exactly that. The fast paths reproduce its results
// bit for bit, each where an argument (given beside it) proves it:
//   - whole distances and few enough pairs: every partial sum is a whole number
//     that a float holds exactly, so the sums are exact and taken in closed form;
//   - otherwise the chains of all population pairs are walked together, each
//     step in double precision, which rounds to the same float as the extended
//     step except exactly halfway between two floats, where the step is redone in
//     extended precision.

// One locus as the pair sums see it.
struct LocusPairData {
    int populations = 0;                        // the hybrid and the parental populations
    int haplotypes = 0;                         // n
    const float* const* distance = nullptr;     // n x n; only entries [x][y] with x <= y are read
    const int* const* counts = nullptr;         // [population][haplotype], not negative
    // The largest distance when the matrix is symmetric and every distance is a
    // whole number from 0 to 2^24; -1 otherwise (see whole_distance_bound).
    double whole_distance_bound = -1;
    // True when every distance [x][y], x <= y, is 0 or a normal float, not
    // negative (see distances_normal).
    bool distances_normal = false;
};

// True when every distance of the upper triangle is 0 or a positive normal
// float: sums of such distances times whole weights only grow and never leave
// the normal range but to overflow. Found once per locus.
bool distances_normal(const float* const* distance, int haplotypes);

// The largest distance when the matrix is symmetric and every distance is a
// whole number from 0 to 2^24, else -1. Depends on the distances alone, so it
// is found once per locus and serves every replicate.
double whole_distance_bound(const float* const* distance, int haplotypes);

// True when the pair sums of a population pair with `pairs` pairs of copies and
// distances that are whole numbers at most `largest_distance` are exact in
// single precision, whatever the order of the terms.
bool whole_sums_are_exact(std::int64_t pairs, double largest_distance);

// True when a double step on counts no larger than `largest_count` rounds like
// the extended one unless it lands halfway between two floats.
bool double_chain_applies(std::int64_t largest_count);

// True when the environment variable CORVANE_PLAIN_ARITHMETIC is set to a value
// other than "0": every result is then computed by the straightforward
// implementation (the plain arithmetic here, draws that walk the counts, stream
// formatting), for tests that compare both and as the benchmark's floor. Read
// once, at the first call.
bool plain_arithmetic_forced();

class PairSums {
public:
    // Working tables for up to `populations` populations and `most_haplotypes`
    // haplotypes per locus, allocated once (may throw std::bad_alloc).
    PairSums(int populations, int most_haplotypes);

    // The bytes those tables take, for the storage estimate.
    static long double working_bytes(long double populations, long double most_haplotypes);

    // Fills tot and count, (populations x populations) tables indexed
    // [p * populations + q], both triangles, with the pair sums of the locus:
    // by the fast paths, or by the plain arithmetic when it is forced.
    //
    // With precise_tot and precise_count, fills them too with the same sums
    // before any rounding to single precision: the number of pairs exactly,
    // and the sum of distance x weight in double, each product formed in
    // double and added in the order of the haplotype pairs. Every path gives
    // the same doubles (the closed form's sums are exact, and the chains add
    // the same products in the same order, the zero weights they skip adding
    // nothing), so the precise tables do not depend on the path either.
    void compute(const LocusPairData& locus, float* tot, float* count, double* precise_tot = nullptr,
                 double* precise_count = nullptr);
    // The same by the plain arithmetic alone, whatever the environment says.
    void compute_plain(const LocusPairData& locus, float* tot, float* count, double* precise_tot = nullptr,
                       double* precise_count = nullptr);

    // How many population pairs each way has served (for tests and profiles).
    std::uint64_t closed_form_pairs = 0;
    std::uint64_t double_chained_pairs = 0;
    std::uint64_t extended_chained_pairs = 0;

private:
    struct Chain {
        int p, q, cell;                        // populations p <= q and their cell in the tables
        double pairs;                          // the number of pairs of copies
    };
    static constexpr int chains_at_once = 8;

    void plain(const LocusPairData& locus, float* tot, float* count);
    static void mirror(int populations, float* tot, float* count);
    static void mirror(int populations, double* tot, double* count);
    void exact_pair_counts(const LocusPairData& locus, double* count);
    void closed_form(const LocusPairData& locus, float* tot, float* count);
    const std::vector<int>& merged_present(const LocusPairData& locus, const Chain& chain);
    void extended_chains(const LocusPairData& locus, float* tot, float* count);
    template <bool products_only>
    std::size_t collect_terms(const LocusPairData& locus, const Chain& chain, double* product, double* weight);
    void double_chains(const LocusPairData& locus, float* tot, float* count);

    int _populations;
    std::vector<double> _copies;               // N_p, the copies of each population
    std::vector<std::vector<int>> _present;    // per population, the haplotypes it holds
    std::vector<double> _weighted;             // [q][x]: (D c_q)[x]
    std::vector<double> _gathered;             // counts of p and q, distances, on the merged list
    std::vector<float> _float_copies;          // the counts of one population, as floats
    std::size_t _most_terms;                   // n(n+1)/2 for the most haplotypes
    std::vector<Chain> _chains;                // the population pairs left to the chains
    std::vector<int> _merged;                  // haplotypes present in p or q
    // The chains in hand, [chain * _most_terms + term]: the products
    // distance x weight and the weights.
    std::unique_ptr<double[]> _products;
    std::unique_ptr<double[]> _weights;
    // Where the sums before rounding go during one compute(), or null.
    double* _precise_tot = nullptr;
};

#endif
