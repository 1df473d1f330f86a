#include "pair_sums.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// True when the double `value` lies exactly halfway between two floats (of the
// normal range): its 29 bits below a float's 24-bit significand read 1000...0.
inline bool halfway(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x1FFFFFFFu) == 0x10000000u;
}

// True when rounding the double `value` to single precision might not give what
// rounding the exact value gives: the value lies exactly halfway between two
// floats (its 29 bits below a float's 24-bit significand read 1000...0), or
// outside the range of normal floats, where the float grid is coarser (zero is
// exact).
inline bool halfway_or_outside_float_range(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const std::uint64_t magnitude = bits & 0x7FFFFFFFFFFFFFFFu;
    const std::uint64_t smallest_normal_float = 0x3810000000000000u;  // 2^-126
    const std::uint64_t beyond_floats = 0x47F0000000000000u;          // 2^128
    const bool outside = magnitude - smallest_normal_float >= beyond_floats - smallest_normal_float;
    return halfway(value) | (outside & (magnitude != 0));
}

// One step of a chain in double precision, sum + product with the product
// distance x weight given exactly, and why it gives the float of the
// extended-precision step: the product is exact in double (a 24-bit significand
// times a weight of at most 2^29 needs at most 53 bits) as in extended
// precision, and so is the sum held in a float; both sums are then the exact
// sum x rounded, to 53 or to 64 bits, before the rounding to single precision.
// If the double sum is not a midpoint m between two floats, it lies on the same
// side of every midpoint as x (m has 25 significant bits, so it is a double, and
// rounding is monotonic): it rounds to the float nearest x. The extended sum
// rounds to that float as well unless it is itself a midpoint m, and then x lies
// within half an extended unit of m, so the double sum is m too. Hence only a
// double sum exactly halfway between two floats can differ, and there (and
// outside the normal float range) the step is redone in extended precision.
inline float double_chain_step(float sum, double product)
{
    const double next = static_cast<double>(sum) + product;
    if (halfway_or_outside_float_range(next))
        return static_cast<float>(static_cast<long double>(sum) + static_cast<long double>(product));
    return static_cast<float>(next);
}

constexpr std::int64_t largest_double_chain_count = 16384;
constexpr int chains_at_once_steps = 8;  // 2^14: weights 2 x 2^14 x 2^14 = 2^29

// The sum of row[y] * copies[y] for y below n, in double (exact here: whole
// numbers below 2^53, so in any order), two terms at a time in SSE2 registers
// on x86-64.
double row_dot(const float* row, const double* copies, int n)
{
    int y = 0;
    double sum = 0;
#if defined(__SSE2__)
    __m128d sums = _mm_setzero_pd();
    for (; y + 2 <= n; y += 2) {
        const __m128 two = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + y)));
        sums = _mm_add_pd(sums, _mm_mul_pd(_mm_cvtps_pd(two), _mm_loadu_pd(copies + y)));
    }
    alignas(16) double halves[2];
    _mm_store_pd(halves, sums);
    sum = halves[0] + halves[1];
#endif
    for (; y < n; ++y)
        sum += static_cast<double>(row[y]) * copies[y];
    return sum;
}

// The same in single precision, four terms at a time in SSE registers, when the
// largest distance times the copies is at most 2^24: every product, every
// partial sum and the result are then whole numbers from 0 to 2^24, which a
// float holds exactly.
double row_dot_in_float(const float* row, const float* copies, int n)
{
    int y = 0;
    float sum = 0;
#if defined(__SSE2__)
    __m128 sums = _mm_setzero_ps();
    for (; y + 4 <= n; y += 4)
        sums = _mm_add_ps(sums, _mm_mul_ps(_mm_loadu_ps(row + y), _mm_loadu_ps(copies + y)));
    alignas(16) float quarters[4];
    _mm_store_ps(quarters, sums);
    sum = (quarters[0] + quarters[1]) + (quarters[2] + quarters[3]);
#endif
    for (; y < n; ++y)
        sum += row[y] * copies[y];
    return sum;
}

}  // namespace

bool distances_normal(const float* const* distance, int haplotypes)
{
    for (int x = 0; x < haplotypes; ++x)
        for (int y = x; y < haplotypes; ++y) {
            const float d = distance[x][y];
            if (!(d == 0 || (d >= std::numeric_limits<float>::min() && d <= std::numeric_limits<float>::max())))
                return false;
        }
    return true;
}

double whole_distance_bound(const float* const* distance, int haplotypes)
{
    double largest = 0;
    for (int x = 0; x < haplotypes; ++x)
        for (int y = x; y < haplotypes; ++y) {
            const double d = distance[x][y];
            if (!(d >= 0 && d <= two_to_24 && d == std::floor(d)) || distance[y][x] != distance[x][y])
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
      _gathered(2 * static_cast<std::size_t>(most_haplotypes)),
      _float_copies(static_cast<std::size_t>(most_haplotypes)),
      _most_terms(static_cast<std::size_t>(most_haplotypes) * (most_haplotypes + 1) / 2)
{
    for (std::vector<int>& present : _present)
        present.reserve(most_haplotypes);
    _merged.reserve(most_haplotypes);
    _products.reset(new double[_most_terms * chains_at_once]);
    _weights.reset(new double[_most_terms * chains_at_once]);
    _chains.reserve(static_cast<std::size_t>(populations) * (populations + 1) / 2);
}

long double PairSums::working_bytes(long double populations, long double most_haplotypes)
{
    const long double pairs = populations * (populations + 1) / 2;
    return populations * (8 + 24 + 4 * most_haplotypes)  // copies, present lists
           + 8 * populations * most_haplotypes           // weighted table
           + 32 * most_haplotypes                        // merged list, its counts and distances
           + pairs * sizeof(Chain)
           + chains_at_once * most_haplotypes * (most_haplotypes + 1) / 2 * 16;  // term tables
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
            double precise = 0;
            for (int x = 0; x < n; ++x)
                for (int y = x; y < n; ++y) {
                    const std::int64_t w = pair_weight(p == q, locus.counts[p], locus.counts[q], x, y);
                    add_pairs(t, c, locus.distance[x][y], w);
                    precise += static_cast<double>(locus.distance[x][y]) * static_cast<double>(w);
                }
            if (_precise_tot)
                _precise_tot[p * P1 + q] = precise;
        }
}

void PairSums::compute_plain(const LocusPairData& locus, float* tot, float* count, double* precise_tot,
                             double* precise_count)
{
    _precise_tot = precise_tot;
    plain(locus, tot, count);
    mirror(locus.populations, tot, count);
    if (precise_tot && precise_count) {
        exact_pair_counts(locus, precise_count);
        mirror(locus.populations, precise_tot, precise_count);
    }
    _precise_tot = nullptr;
}

void PairSums::compute(const LocusPairData& locus, float* tot, float* count, double* precise_tot,
                       double* precise_count)
{
    if (plain_arithmetic_forced()) {
        compute_plain(locus, tot, count, precise_tot, precise_count);
        return;
    }
    _precise_tot = precise_tot;
    const int P1 = locus.populations;
    closed_form(locus, tot, count);
    if (!_chains.empty()) {
        std::int64_t largest_count = 0;
        for (int p = 0; p < P1; ++p)
            for (int x : _present[p])
                largest_count = std::max<std::int64_t>(largest_count, locus.counts[p][x]);
        if (double_chain_applies(largest_count))
            double_chains(locus, tot, count);
        else
            extended_chains(locus, tot, count);
    }
    mirror(P1, tot, count);
    if (precise_tot && precise_count) {
        exact_pair_counts(locus, precise_count);
        mirror(P1, precise_tot, precise_count);
    }
    _precise_tot = nullptr;
}

// The number of pairs of copies of each population pair, exactly: N_p N_q
// between two populations and N_p (N_p - 1) / 2 within one, with N_p the
// population's copies (the sum of the weights of every haplotype pair).
void PairSums::exact_pair_counts(const LocusPairData& locus, double* count)
{
    const int P1 = locus.populations;
    for (int p = 0; p < P1; ++p) {
        double copies = 0;  // a sum of 32-bit counts, exact in double
        for (int x = 0; x < locus.haplotypes; ++x)
            copies += locus.counts[p][x];
        _copies[static_cast<std::size_t>(p)] = copies;
    }
    for (int p = 0; p < P1; ++p)
        for (int q = p; q < P1; ++q) {
            const long double np = _copies[static_cast<std::size_t>(p)];
            const long double nq = _copies[static_cast<std::size_t>(q)];
            count[p * P1 + q] = static_cast<double>(p == q ? np * (np - 1) / 2 : np * nq);
        }
}

void PairSums::mirror(int populations, double* tot, double* count)
{
    for (int p = 0; p < populations; ++p)
        for (int q = p + 1; q < populations; ++q) {
            tot[q * populations + p] = tot[p * populations + q];
            count[q * populations + p] = count[p * populations + q];
        }
}

// Copies each population pair's sums to the lower triangle.
void PairSums::mirror(int populations, float* tot, float* count)
{
    for (int p = 0; p < populations; ++p)
        for (int q = p + 1; q < populations; ++q) {
            tot[q * populations + p] = tot[p * populations + q];
            count[q * populations + p] = count[p * populations + q];
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
// with D the distance matrix (taken this way only when it is symmetric, so that
// its rows hold the upper triangle too), c_p the counts of p and N_p their sum.
// The products D c_q are formed in double, exactly, in any order: their terms
// and partial sums are whole numbers below 2^53 (only populations with at most
// 2^24 copies need them). Pairs outside these bounds are left to the chains.
void PairSums::closed_form(const LocusPairData& locus, float* tot, float* count)
{
    const int P1 = locus.populations;
    const int n = locus.haplotypes;
    _chains.clear();
    for (int p = 0; p < P1; ++p) {
        const int* cp = locus.counts[p];
        std::vector<int>& present = _present[p];
        present.clear();
        double copies = 0;
        for (int x = 0; x < n; ++x)
            if (cp[x] != 0) {
                present.push_back(x);
                copies += cp[x];
            }
        _copies[p] = copies;
    }
    const double bound = locus.whole_distance_bound;
    for (int q = 0; q < P1; ++q) {
        if (bound < 0 || _copies[q] > two_to_24)
            continue;
        double* weighted = &_weighted[static_cast<std::size_t>(q) * n];
        if (bound * _copies[q] <= two_to_24) {
            float* copies = _float_copies.data();
            for (int y = 0; y < n; ++y)
                copies[y] = static_cast<float>(locus.counts[q][y]);
            for (int x = 0; x < n; ++x)
                weighted[x] = row_dot_in_float(locus.distance[x], copies, n);
            continue;
        }
        double* copies = _gathered.data();
        for (int y = 0; y < n; ++y)
            copies[y] = locus.counts[q][y];
        for (int x = 0; x < n; ++x)
            weighted[x] = row_dot(locus.distance[x], copies, n);
    }
    for (int p = 0; p < P1; ++p) {
        const int* cp = locus.counts[p];
        for (int q = p; q < P1; ++q) {
            // (+0 added: no copies would give -0 where the plain sum holds +0)
            const double pairs = (p == q ? _copies[p] * (_copies[p] - 1) / 2 : _copies[p] * _copies[q]) + 0.0;
            const std::int64_t whole_pairs = pairs <= two_to_24 ? static_cast<std::int64_t>(pairs) : -1;
            if (!whole_sums_are_exact(whole_pairs, bound)) {
                _chains.push_back({p, q, p * P1 + q, pairs});
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
            if (_precise_tot)
                _precise_tot[p * P1 + q] = sum;  // exact, as the float is
            ++closed_form_pairs;
        }
    }
}

// The haplotypes present in p or q, ascending. A haplotype pair that holds no
// copy of either population adds a zero weight, which leaves both sums exactly
// as they are (distances are finite, as the reader stores them, and the sums
// never hold -0), so the chains visit these alone.
const std::vector<int>& PairSums::merged_present(const LocusPairData& locus, const Chain& chain)
{
    if (chain.p == chain.q)
        return _present[chain.p];
    const int* cp = locus.counts[chain.p];
    const int* cq = locus.counts[chain.q];
    _merged.resize(static_cast<std::size_t>(locus.haplotypes));
    std::size_t m = 0;
    for (int x = 0; x < locus.haplotypes; ++x) {
        _merged[m] = x;
        m += (cp[x] | cq[x]) != 0 ? 1 : 0;
    }
    _merged.resize(m);
    return _merged;
}

// Counts too large for the double steps: each chain in the plain arithmetic,
// zero weights left out.
void PairSums::extended_chains(const LocusPairData& locus, float* tot, float* count)
{
    for (const Chain& chain : _chains) {
        const int* cp = locus.counts[chain.p];
        const int* cq = locus.counts[chain.q];
        const std::vector<int>& merged = merged_present(locus, chain);
        float& t = tot[chain.cell];
        float& c = count[chain.cell];
        double precise = 0;
        for (std::size_t a = 0; a < merged.size(); ++a)
            for (std::size_t b = a; b < merged.size(); ++b) {
                const std::int64_t w = pair_weight(chain.p == chain.q, cp, cq, merged[a], merged[b]);
                if (w == 0)
                    continue;
                const float d = locus.distance[merged[a]][merged[b]];
                add_pairs(t, c, d, w);
                precise += static_cast<double>(d) * static_cast<double>(w);
            }
        if (_precise_tot)
            _precise_tot[chain.cell] = precise;
        ++extended_chained_pairs;
    }
}

// The products distance x weight of the chain's terms, in the order of the
// haplotype pairs (x, y), x <= y, over the haplotypes present in p or q, into
// `product` (and the weights into `weight` unless `products_only`); returns how
// many. The weights, at most 2^29, and the products are exact in double. A zero
// weight is kept: its step changes nothing.
template <bool products_only>
std::size_t PairSums::collect_terms(const LocusPairData& locus, const Chain& chain, double* product, double* weight)
{
    const int* cp = locus.counts[chain.p];
    const int* cq = locus.counts[chain.q];
    const bool same = chain.p == chain.q;
    const std::vector<int>& merged = merged_present(locus, chain);
    const std::size_t m = merged.size();
    double* cpm = _gathered.data();
    double* cqm = cpm + m;
    for (std::size_t b = 0; b < m; ++b) {
        cpm[b] = cp[merged[b]];
        cqm[b] = cq[merged[b]];
    }
    // Within one population a pair (x, y) counts c_x c_y once; between two,
    // c_p[x] c_q[y] + c_q[x] c_p[y].
    const double between = same ? 0.0 : 1.0;
    std::size_t i = 0;
    for (std::size_t a = 0; a < m; ++a) {
        const float* row = locus.distance[merged[a]];
        // c(c-1)/2 is exact in double for these counts (at most 2^14), so the
        // rounding half up of same_haplotype_pairs leaves it as it is.
        const double same_haplotype = same ? cpm[a] * (cpm[a] - 1) / 2 : cpm[a] * cqm[a];
        product[i] = static_cast<double>(row[merged[a]]) * same_haplotype;
        if (!products_only)
            weight[i] = same_haplotype;
        ++i;
        const double cpa = cpm[a];
        const double cqa = between * cqm[a];
        double* out = product + i - (a + 1);
        double* out_weight = weight + i - (a + 1);
        std::size_t b = a + 1;
#if defined(__SSE2__)
        const __m128d copies_pa = _mm_set1_pd(cpa);
        const __m128d copies_qa = _mm_set1_pd(cqa);
        for (; b + 2 <= m; b += 2) {
            const __m128d w = _mm_add_pd(_mm_mul_pd(copies_pa, _mm_loadu_pd(cqm + b)),
                                         _mm_mul_pd(copies_qa, _mm_loadu_pd(cpm + b)));
            const __m128d d = _mm_set_pd(row[merged[b + 1]], row[merged[b]]);
            _mm_storeu_pd(out + b, _mm_mul_pd(d, w));
            if (!products_only)
                _mm_storeu_pd(out_weight + b, w);
        }
#endif
        for (; b < m; ++b) {
            const double w = cpa * cqm[b] + cqa * cpm[b];
            out[b] = static_cast<double>(row[merged[b]]) * w;
            if (!products_only)
                out_weight[b] = w;
        }
        i += m - (a + 1);
    }
    return i;
}

// Advances every chain of a group by one step: sum + product in double, each
// redone in extended precision where the double sum is halfway between two
// floats or, unless every term is 0 or a normal float not below 0 (then the sums
// only grow, and stay 0 or normal), outside the normal float range. Chain g's
// products lie at products[g * stride + step].
template <bool sums_stay_normal>
inline void chain_steps(float* sums, const double* products, std::size_t stride)
{
    double next[chains_at_once_steps];
    bool redo = false;
    for (int g = 0; g < chains_at_once_steps; ++g) {
        next[g] = static_cast<double>(sums[g]) + products[g * stride];
        redo |= sums_stay_normal ? halfway(next[g]) : halfway_or_outside_float_range(next[g]);
    }
    if (redo) {
        for (int g = 0; g < chains_at_once_steps; ++g)
            sums[g] = double_chain_step(sums[g], products[g * stride]);
        return;
    }
    for (int g = 0; g < chains_at_once_steps; ++g)
        sums[g] = static_cast<float>(next[g]);
}

// The sums of the group's products before any rounding, in double, each chain's
// in the order of its terms (the chains interleaved, which leaves each chain's
// own order as it is).
void add_exact_sums(double* exact, const double* products, std::size_t stride, std::size_t steps)
{
    for (std::size_t i = 0; i < steps; ++i)
        for (int g = 0; g < chains_at_once_steps; ++g)
            exact[g] += products[g * stride + i];
}

// All the steps of a group of chains whose sums stay normal. Portable: one step
// of the group at a time.
[[maybe_unused]] void run_normal_chains_portable(float* sums, double* exact, const double* products,
                                                 std::size_t stride, std::size_t steps)
{
    for (std::size_t i = 0; i < steps; ++i)
        chain_steps<true>(sums, products + i, stride);
    if (exact)
        add_exact_sums(exact, products, stride, steps);
}

#if defined(__SSE2__)
// The same with the eight sums in four SSE2 registers of two doubles (SSE2 is
// part of every x86-64): a step adds the products, looks for a sum halfway
// between two floats in the low 32 bits of each double, and rounds each sum to
// single precision and back. A step with a halfway sum is redone lane by lane.
// With keep_exact the same products are also added, unrounded, to the exact
// sums (four more registers, additions that no step waits for).
template <bool keep_exact>
void run_normal_chains_sse2(float* sums, double* exact, const double* products, std::size_t stride,
                            std::size_t steps)
{
    const __m128i low_bits = _mm_set1_epi64x(0x1FFFFFFF);
    const __m128i half = _mm_set1_epi64x(0x10000000);
    const __m128 first = _mm_loadu_ps(sums);
    const __m128 second = _mm_loadu_ps(sums + 4);
    __m128d s0 = _mm_cvtps_pd(first);
    __m128d s1 = _mm_cvtps_pd(_mm_movehl_ps(first, first));
    __m128d s2 = _mm_cvtps_pd(second);
    __m128d s3 = _mm_cvtps_pd(_mm_movehl_ps(second, second));
    const auto is_half = [&](__m128d v) {
        return _mm_cmpeq_epi32(_mm_and_si128(_mm_castpd_si128(v), low_bits), half);
    };
    __m128d e0 = _mm_setzero_pd(), e1 = _mm_setzero_pd(), e2 = _mm_setzero_pd(), e3 = _mm_setzero_pd();
    for (std::size_t i = 0; i < steps; ++i) {
        const double* p = products + i;
        const auto pair = [p, stride](int g) { return _mm_set_pd(p[(g + 1) * stride], p[g * stride]); };
        const __m128d p0 = pair(0), p1 = pair(2), p2 = pair(4), p3 = pair(6);
        if (keep_exact) {
            e0 = _mm_add_pd(e0, p0);
            e1 = _mm_add_pd(e1, p1);
            e2 = _mm_add_pd(e2, p2);
            e3 = _mm_add_pd(e3, p3);
        }
        const __m128d n0 = _mm_add_pd(s0, p0);
        const __m128d n1 = _mm_add_pd(s1, p1);
        const __m128d n2 = _mm_add_pd(s2, p2);
        const __m128d n3 = _mm_add_pd(s3, p3);
        const __m128i any = _mm_or_si128(_mm_or_si128(is_half(n0), is_half(n1)), _mm_or_si128(is_half(n2), is_half(n3)));
        // Dwords 0 and 2 are the low halves of the doubles (the high halves,
        // masked to 0, always compare equal).
        if ((_mm_movemask_ps(_mm_castsi128_ps(any)) & 5) != 0) {
            alignas(16) double sum[chains_at_once_steps];
            _mm_store_pd(sum, s0);
            _mm_store_pd(sum + 2, s1);
            _mm_store_pd(sum + 4, s2);
            _mm_store_pd(sum + 6, s3);
            for (int g = 0; g < chains_at_once_steps; ++g)
                sum[g] = double_chain_step(static_cast<float>(sum[g]), p[g * stride]);
            s0 = _mm_load_pd(sum);
            s1 = _mm_load_pd(sum + 2);
            s2 = _mm_load_pd(sum + 4);
            s3 = _mm_load_pd(sum + 6);
            continue;
        }
        s0 = _mm_cvtps_pd(_mm_cvtpd_ps(n0));
        s1 = _mm_cvtps_pd(_mm_cvtpd_ps(n1));
        s2 = _mm_cvtps_pd(_mm_cvtpd_ps(n2));
        s3 = _mm_cvtps_pd(_mm_cvtpd_ps(n3));
    }
    _mm_storeu_ps(sums, _mm_movelh_ps(_mm_cvtpd_ps(s0), _mm_cvtpd_ps(s1)));
    _mm_storeu_ps(sums + 4, _mm_movelh_ps(_mm_cvtpd_ps(s2), _mm_cvtpd_ps(s3)));
    if (keep_exact) {
        _mm_storeu_pd(exact, e0);
        _mm_storeu_pd(exact + 2, e1);
        _mm_storeu_pd(exact + 4, e2);
        _mm_storeu_pd(exact + 6, e3);
    }
}

// With `exact` (eight sums, starting from 0), the exact sums are kept too.
void run_normal_chains(float* sums, double* exact, const double* products, std::size_t stride, std::size_t steps)
{
    if (exact)
        run_normal_chains_sse2<true>(sums, exact, products, stride, steps);
    else
        run_normal_chains_sse2<false>(sums, nullptr, products, stride, steps);
}
#else
void run_normal_chains(float* sums, double* exact, const double* products, std::size_t stride, std::size_t steps)
{
    run_normal_chains_portable(sums, exact, products, stride, steps);
}
#endif

// The chains of the remaining population pairs, eight at a time: their terms are
// collected first, then one step of each chain in turn, so that the additions of
// different chains overlap (each chain's own steps stay strictly in order).
// Shorter chains are padded with zero terms, which change nothing. A pair count
// of at most 2^24 needs no chain: its partial sums are whole numbers a float
// holds exactly, so the count is the number of pairs.
void PairSums::double_chains(const LocusPairData& locus, float* tot, float* count)
{
    const std::size_t stride = _most_terms;
    for (std::size_t first = 0; first < _chains.size(); first += chains_at_once) {
        const std::size_t group = std::min<std::size_t>(chains_at_once, _chains.size() - first);
        bool counts_exact = true;
        for (std::size_t g = 0; g < group; ++g)
            counts_exact = counts_exact && _chains[first + g].pairs <= two_to_24;
        std::size_t terms[chains_at_once] = {};
        std::size_t longest = 0;
        for (std::size_t g = 0; g < group; ++g) {
            double* product = &_products[g * stride];
            double* weight = &_weights[g * stride];
            const Chain& chain = _chains[first + g];
            terms[g] = counts_exact ? collect_terms<true>(locus, chain, product, weight)
                                    : collect_terms<false>(locus, chain, product, weight);
            longest = std::max(longest, terms[g]);
        }
        for (std::size_t g = 0; g < chains_at_once; ++g) {
            const std::size_t from = g < group ? terms[g] : 0;
            std::fill(&_products[g * stride] + from, &_products[g * stride] + longest, 0.0);
            if (!counts_exact)
                std::fill(&_weights[g * stride] + from, &_weights[g * stride] + longest, 0.0);
        }
        float t[chains_at_once] = {};
        float c[chains_at_once] = {};
        double exact[chains_at_once] = {};
        double* keep_exact = _precise_tot ? exact : nullptr;
        if (locus.distances_normal) {
            run_normal_chains(t, keep_exact, _products.get(), stride, longest);
        } else {
            for (std::size_t i = 0; i < longest; ++i)
                chain_steps<false>(t, &_products[i], stride);
            if (keep_exact)
                add_exact_sums(keep_exact, _products.get(), stride, longest);
        }
        if (!counts_exact)
            run_normal_chains(c, nullptr, _weights.get(), stride, longest);
        for (std::size_t g = 0; g < group; ++g) {
            const Chain& chain = _chains[first + g];
            if (_precise_tot)
                _precise_tot[chain.cell] = exact[g];
            tot[chain.cell] = t[g];
            count[chain.cell] = counts_exact ? static_cast<float>(chain.pairs) : c[g];
            ++double_chained_pairs;
        }
    }
}
