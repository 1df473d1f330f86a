#include "pair_sums.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

constexpr double two_to_24 = 16777216.0;

// Pairs of distinct copies among the copies of one haplotype in one sample,
// c(c-1)/2, evaluated as a real number held in a double and rounded half up.
// In 64 bits, so that no count a sample can hold overflows.
std::int64_t same_haplotype_pairs(std::int64_t copies)
{
    const double half_product = static_cast<double>(static_cast<long double>(copies - 1) * 0.5L *
                                                    static_cast<long double>(copies));
    const double whole = half_product - std::floor(half_product) < 0.5 ? std::floor(half_product)
                                                                       : std::ceil(half_product);
    return static_cast<std::int64_t>(whole);
}

// The weight of the haplotype pair (x, y), x <= y, for populations p <= q with
// counts cp and cq: the number of pairs of copies, one of each haplotype.
std::int64_t pair_weight(bool same_population, const int* cp, const int* cq, int x, int y)
{
    if (same_population)
        return x == y ? same_haplotype_pairs(cp[x]) : std::int64_t{cp[x]} * cp[y];
    if (x == y)
        return std::int64_t{cp[x]} * cq[x];
    return std::int64_t{cp[x]} * cq[y] + std::int64_t{cp[y]} * cq[x];
}

// Adds `pairs` pairs of copies at `distance` to the sums of one population pair,
// in extended precision, each sum rounded to single precision when stored.
inline void add_pairs(float& tot, float& count, float distance, std::int64_t pairs)
{
    tot = static_cast<float>(static_cast<long double>(tot) +
                             static_cast<long double>(distance) * static_cast<long double>(pairs));
    count = static_cast<float>(static_cast<long double>(count) + static_cast<long double>(pairs));
}

// True when rounding the double `value` to single precision might not give what
// rounding the exact value gives: the value lies exactly halfway between two
// floats (its 29 bits below a float's 24-bit significand read 1000...0), or
// outside the range of normal floats, where the float grid is coarser (not a
// number, infinities and zero are never halfway and zero is exact).
inline bool halfway_or_outside_float_range(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const std::uint64_t exponent = (bits >> 52) & 0x7FF;
    const bool halfway = (bits & 0x1FFFFFFFu) == 0x10000000u;
    const bool normal_float = exponent - (1023 - 126) < 254;
    return halfway || (!normal_float && (bits << 1) != 0);
}

// One step of a chain in the plain arithmetic: the extended-precision rule.
inline void extended_chain_step(float& tot, float& count, float distance, std::int64_t pairs)
{
    add_pairs(tot, count, distance, pairs);
}

// The same step in double precision. Why it gives the same floats: the product
// distance x pairs is exact in double (a 24-bit significand times a weight of
// at most 2^29 needs at most 53 bits) as in extended precision, and so is every
// operand; both sums are then the exact sum x rounded, to 53 or to 64 bits,
// before the rounding to single precision. If the double sum is not a midpoint m
// between two floats, it lies on the same side of every midpoint as x (m has 25
// significant bits, so it is a double, and rounding is monotonic): it rounds to
// the float nearest x. The extended sum rounds to that float as well unless it
// is itself a midpoint m, and then x lies within half an extended unit of m, so
// the double sum is m too. Hence only a double sum exactly halfway between two
// floats can differ, and there (and outside the normal float range) the step is
// redone in extended precision.
inline void double_chain_step(float& tot, float& count, float distance, std::int64_t pairs)
{
    const double weight = static_cast<double>(pairs);
    const double new_tot = static_cast<double>(tot) + static_cast<double>(distance) * weight;
    const double new_count = static_cast<double>(count) + weight;
    if (halfway_or_outside_float_range(new_tot) || halfway_or_outside_float_range(new_count)) {
        add_pairs(tot, count, distance, pairs);
        return;
    }
    tot = static_cast<float>(new_tot);
    count = static_cast<float>(new_count);
}

constexpr std::int64_t largest_double_chain_count = 16384;  // 2^14: weights 2 x 2^14 x 2^14 = 2^29

}  // namespace

double whole_distance_bound(const float* const* distance, int haplotypes)
{
    double largest = 0;
    for (int x = 0; x < haplotypes; ++x)
        for (int y = x; y < haplotypes; ++y) {
            const double d = distance[x][y];
            if (!(d >= 0 && d <= two_to_24 && d == std::floor(d)))
                return -1;
            largest = std::max(largest, d);
        }
    return largest;
}

bool whole_sums_are_exact(std::int64_t pairs, double largest_distance)
{
    return pairs >= 0 && static_cast<double>(pairs) <= two_to_24 && largest_distance >= 0 &&
           largest_distance * static_cast<double>(pairs) <= two_to_24;
}

bool double_chain_applies(std::int64_t largest_count)
{
    return largest_count <= largest_double_chain_count;
}

float extended_step(float sum, float distance, double weight)
{
    float count = 0;
    extended_chain_step(sum, count, distance, static_cast<std::int64_t>(weight));
    return sum;
}

float double_step(float sum, float distance, double weight)
{
    float count = 0;
    double_chain_step(sum, count, distance, static_cast<std::int64_t>(weight));
    return sum;
}

bool plain_arithmetic_forced()
{
    static const bool forced = [] {
        const char* value = std::getenv("CORVANE_PLAIN_ARITHMETIC");
        return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
    }();
    return forced;
}

PairSums::PairSums(int populations, int most_haplotypes)
    : _populations(populations),
      _copies(populations),
      _present(populations),
      _weighted(static_cast<std::size_t>(populations) * most_haplotypes),
      _in_union(most_haplotypes)
{
    for (std::vector<int>& present : _present)
        present.reserve(most_haplotypes);
    _union.reserve(most_haplotypes);
    _merged.reserve(most_haplotypes);
    const std::size_t most_terms = static_cast<std::size_t>(most_haplotypes) * (most_haplotypes + 1) / 2;
    for (std::vector<Term>& terms : _terms)
        terms.reserve(most_terms);
    _chains.reserve(static_cast<std::size_t>(populations) * (populations + 1) / 2);
}

long double PairSums::working_bytes(long double populations, long double most_haplotypes)
{
    const long double pairs = populations * (populations + 1) / 2;
    return populations * (8 + 24 + 4 * most_haplotypes)  // copies, present lists
           + 8 * populations * most_haplotypes           // weighted table
           + 9 * most_haplotypes                         // union, merged list
           + pairs * sizeof(Chain)
           + chains_at_once * most_haplotypes * (most_haplotypes + 1) / 2 * sizeof(Term);
}

// The plain arithmetic, straight from its definition: every population pair,
// every haplotype pair in order, every term added (a zero weight included).
void PairSums::plain(const LocusPairData& locus, float* tot, float* count)
{
    const int P1 = locus.populations;
    const int n = locus.haplotypes;
    for (int p = 0; p < P1; ++p)
        for (int q = p; q < P1; ++q) {
            float& t = tot[p * P1 + q];
            float& c = count[p * P1 + q];
            for (int x = 0; x < n; ++x)
                for (int y = x; y < n; ++y)
                    add_pairs(t, c, locus.distance[x][y], pair_weight(p == q, locus.counts[p], locus.counts[q], x, y));
        }
}

void PairSums::compute(const LocusPairData& locus, float* tot, float* count)
{
    const int P1 = locus.populations;
    if (plain_arithmetic_forced()) {
        plain(locus, tot, count);
    } else {
        closed_form(locus, tot, count);
        if (!_chains.empty()) {
            std::int64_t largest_count = 0;
            for (int p = 0; p < P1; ++p)
                for (int x : _present[p])
                    largest_count = std::max<std::int64_t>(largest_count, locus.counts[p][x]);
            if (double_chain_applies(largest_count))
                chains<double_chain_step>(locus, tot, count);
            else
                chains<extended_chain_step>(locus, tot, count);
        }
    }
    for (int p = 0; p < P1; ++p)
        for (int q = p + 1; q < P1; ++q) {
            tot[q * P1 + p] = tot[p * P1 + q];
            count[q * P1 + p] = count[p * P1 + q];
        }
}

// Whole distances. When every distance is a whole number from 0 to 2^24 and a
// population pair has at most 2^24 pairs of copies, with the largest distance
// times that number at most 2^24, every term and every partial sum of both
// chains is a whole number from 0 to 2^24 (the terms are not negative), which a
// float holds exactly: no addition rounds, so the order of the terms does not
// matter and the sums are the exact ones:
//   between p and q: count N_p N_q, tot c_p . (D c_q);
//   within p:        count N_p (N_p - 1) / 2, tot (c_p . (D c_p) - sum_x d_xx c_x) / 2,
// with D the symmetric matrix read from the upper triangle, c_p the counts of p
// and N_p their sum. The products D c_q are formed in double, exactly: their
// terms and partial sums are whole numbers below 2^53 (only populations with at
// most 2^24 copies need them). Pairs outside these bounds are left to the chains.
void PairSums::closed_form(const LocusPairData& locus, float* tot, float* count)
{
    const int P1 = locus.populations;
    const int n = locus.haplotypes;
    _chains.clear();
    std::fill(_in_union.begin(), _in_union.begin() + n, 0);
    _union.clear();
    for (int p = 0; p < P1; ++p) {
        const int* cp = locus.counts[p];
        std::vector<int>& present = _present[p];
        present.clear();
        double copies = 0;
        for (int x = 0; x < n; ++x)
            if (cp[x] != 0) {
                present.push_back(x);
                copies += cp[x];
                if (!_in_union[x]) {
                    _in_union[x] = 1;
                    _union.push_back(x);
                }
            }
        _copies[p] = copies;
    }
    const double bound = locus.whole_distance_bound;
    if (bound < 0) {
        for (int p = 0; p < P1; ++p)
            for (int q = p; q < P1; ++q)
                _chains.push_back({p, q, p * P1 + q});
        return;
    }
    for (int q = 0; q < P1; ++q) {
        if (_copies[q] > two_to_24)
            continue;
        double* weighted = &_weighted[static_cast<std::size_t>(q) * n];
        const int* cq = locus.counts[q];
        for (int x : _union) {
            double sum = 0;
            for (int y : _present[q])
                sum += static_cast<double>(x <= y ? locus.distance[x][y] : locus.distance[y][x]) * cq[y];
            weighted[x] = sum;
        }
    }
    for (int p = 0; p < P1; ++p) {
        const int* cp = locus.counts[p];
        for (int q = p; q < P1; ++q) {
            const double pairs = p == q ? _copies[p] * (_copies[p] - 1) / 2 : _copies[p] * _copies[q];
            const std::int64_t whole_pairs = pairs <= two_to_24 ? static_cast<std::int64_t>(pairs) : -1;
            if (!whole_sums_are_exact(whole_pairs, bound)) {
                _chains.push_back({p, q, p * P1 + q});
                continue;
            }
            const double* weighted = &_weighted[static_cast<std::size_t>(q) * n];
            double sum = 0;
            for (int x : _present[p])
                sum += cp[x] * weighted[x];
            if (p == q) {
                for (int x : _present[p])
                    sum -= static_cast<double>(locus.distance[x][x]) * cp[x];
                sum /= 2;
            }
            tot[p * P1 + q] = static_cast<float>(sum);
            count[p * P1 + q] = static_cast<float>(pairs);
            ++closed_form_pairs;
        }
    }
}

// The terms of the chain of populations p <= q, in the order of the haplotype
// pairs (x, y), x <= y. A haplotype pair that holds no copy of either population
// adds a zero weight, which leaves both sums exactly as they are (the sums never
// hold -0), so only haplotypes present in p or q are visited and zero weights
// are left out.
void PairSums::collect_terms(const LocusPairData& locus, const Chain& chain, std::vector<Term>& terms)
{
    const int* cp = locus.counts[chain.p];
    const int* cq = locus.counts[chain.q];
    const bool same = chain.p == chain.q;
    _merged.clear();
    if (same)
        _merged = _present[chain.p];
    else
        std::set_union(_present[chain.p].begin(), _present[chain.p].end(), _present[chain.q].begin(),
                       _present[chain.q].end(), std::back_inserter(_merged));
    terms.clear();
    for (std::size_t a = 0; a < _merged.size(); ++a) {
        const int x = _merged[a];
        const float* row = locus.distance[x];
        const std::int64_t same_haplotype = pair_weight(same, cp, cq, x, x);
        if (same_haplotype != 0)
            terms.push_back({row[x], same_haplotype});
        const std::int64_t cpx = cp[x];
        const std::int64_t cqx = cq[x];
        for (std::size_t b = a + 1; b < _merged.size(); ++b) {
            const int y = _merged[b];
            const std::int64_t w = same ? cpx * cp[y] : cpx * cq[y] + cp[y] * cqx;
            if (w != 0)
                terms.push_back({row[y], w});
        }
    }
}

// The chains of the remaining population pairs, four at a time: their terms are
// collected first, then one step of each chain in turn, so that the additions of
// different chains overlap (each chain's own steps stay strictly in order).
// Shorter chains are padded with zero weights, which change nothing.
template <void Step(float&, float&, float, std::int64_t)>
void PairSums::chains(const LocusPairData& locus, float* tot, float* count)
{
    for (std::size_t first = 0; first < _chains.size(); first += chains_at_once) {
        float t[chains_at_once] = {};
        float c[chains_at_once] = {};
        std::size_t longest = 0;
        for (int g = 0; g < chains_at_once; ++g) {
            std::vector<Term>& terms = _terms[g];
            terms.clear();
            if (first + g < _chains.size())
                collect_terms(locus, _chains[first + g], terms);
            longest = std::max(longest, terms.size());
        }
        for (std::vector<Term>& terms : _terms)
            terms.resize(longest, Term{0.0f, 0});
        for (std::size_t i = 0; i < longest; ++i)
            for (int g = 0; g < chains_at_once; ++g)
                Step(t[g], c[g], _terms[g][i].distance, _terms[g][i].weight);
        for (int g = 0; g < chains_at_once && first + g < _chains.size(); ++g) {
            tot[_chains[first + g].cell] = t[g];
            count[_chains[first + g].cell] = c[g];
            ++chained_pairs;
        }
    }
}
