#include "estimate_core.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "number_format.h"

namespace estimate_core {

PopulationChoice every_population(int parents, std::vector<int>& rows)
{
    rows.resize(static_cast<std::size_t>(parents > 0 ? parents : 0));
    for (int k = 0; k < parents; ++k)
        rows[static_cast<std::size_t>(k)] = k + 1;
    PopulationChoice choice;
    choice.table_populations = parents + 1;
    choice.hybrid_row = 0;
    choice.parent_rows = rows.data();
    choice.parent_count = parents;
    return choice;
}

// ---------------------------------------------------------------------------
// The reported estimate. The operands are widened explicitly, since C++ would
// otherwise evaluate float expressions in float.

namespace {

// tot / count in extended precision; no pairs give no mean (not-a-number),
// which the callers never let happen but which is never a division by zero.
inline long double mean_distance(float tot_diff, float count_diff)
{
    if (count_diff == 0.0f)
        return std::numeric_limits<long double>::quiet_NaN();
    return static_cast<long double>(tot_diff) / static_cast<long double>(count_diff);
}

// Sum over i of a[i][a_col] * b[i][b_col], in extended precision, in ascending
// order of i. Every product of two floats is exact in long double.
long double sum_of_products(int n, const float* const* a_rows, int a_col, const float* const* b_rows, int b_col)
{
    long double sum = 0;
    for (int i = 0; i < n; ++i)
        sum += static_cast<long double>(a_rows[i][a_col]) * static_cast<long double>(b_rows[i][b_col]);
    return sum;
}

long double sum_of_products(int n, const float* const* a_rows, int a_col, const float* b)
{
    long double sum = 0;
    for (int i = 0; i < n; ++i)
        sum += static_cast<long double>(a_rows[i][a_col]) * static_cast<long double>(b[i]);
    return sum;
}

bool usable_pivot(float pivot)
{
    return pivot != 0.0f && std::isfinite(pivot);
}

}  // namespace

void clear_times(int n, float* H, float** P)
{
    for (int k = 0; k < n; ++k)
        H[k] = 0.0f;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            P[i][j] = 0.0f;
}

void add_locus_means(const PopulationChoice& choice, const float* tot, const float* count, float* H, float** P)
{
    const int n = choice.parent_count;
    const int* rows = choice.parent_rows;
    for (int k = 0; k < n; ++k) {
        const std::size_t cell = choice.cell(choice.hybrid_row, rows[k]);
        H[k] = static_cast<float>(H[k] + mean_distance(tot[cell], count[cell]));
    }
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const std::size_t cell = choice.cell(rows[i], rows[j]);
            P[i][j] = static_cast<float>(P[i][j] + mean_distance(tot[cell], count[cell]));
        }
}

void finish_times(int n, int loci, float* H, float** P)
{
    const long double count = loci;
    for (int k = 0; k < n; ++k)
        H[k] = loci > 0 ? static_cast<float>(H[k] / count) : std::numeric_limits<float>::quiet_NaN();
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            P[i][j] = loci > 0 ? static_cast<float>(P[i][j] / count) : std::numeric_limits<float>::quiet_NaN();
}

bool distinct_parents_apart(int n, const float* const* P)
{
    for (int i = 1; i < n; ++i)
        for (int j = 0; j < i; ++j)
            if (P[i][j] == 0.0f)
                return false;
    return true;
}

void add_admixture_term(int n, float time_since_admixture, float mutation_rate, float** P)
{
    const long double admixture_term = static_cast<long double>(2.0f) * time_since_admixture *
                                       static_cast<long double>(mutation_rate);
    for (int i = 0; i < n; ++i)
        P[i][i] = static_cast<float>(P[i][i] + admixture_term);
}

void form_equations(int n, const float* const* P, const float* H, float** M, float* v)
{
    const int r = n - 1;
    for (int i = 0; i < n; ++i) {
        v[i] = 0.0f;
        for (int j = 0; j < n; ++j)
            M[i][j] = 0.0f;
    }
    for (int j = 0; j < r; ++j) {
        for (int k = 0; k < r; ++k) {
            if (k == j) {
                const long double S1 = sum_of_products(n, P, j, P, j);
                const long double S2 = sum_of_products(n, P, r, P, r);
                const long double S3 = sum_of_products(n, P, r, P, j);
                M[j][j] = static_cast<float>(S1 + (S2 - static_cast<long double>(2.0f) * S3));
            } else {
                const long double A = sum_of_products(n, P, r, P, r);
                const long double B = sum_of_products(n, P, j, P, k);
                const long double C = sum_of_products(n, P, j, P, r);
                const long double D = sum_of_products(n, P, r, P, k);
                M[j][k] = static_cast<float>((B - D) + (A - C));
            }
        }
        const long double Q1 = sum_of_products(n, P, r, P, r);
        const long double Q2 = sum_of_products(n, P, j, H);
        const long double Q3 = sum_of_products(n, P, r, H);
        const long double Q4 = sum_of_products(n, P, r, P, j);
        v[j] = static_cast<float>((Q2 - Q4) + (Q1 - Q3));
    }
}

int solve_without_pivoting(int n, float** a, float* b, float* x)
{
    for (int k = 0; k < n; ++k) {
        if (!usable_pivot(a[k][k]))
            return 0;
        for (int i = k + 1; i < n; ++i) {
            const long double m = static_cast<long double>(a[i][k]) / static_cast<long double>(a[k][k]);
            for (int c = 0; c < n; ++c)
                a[i][c] = static_cast<float>(a[i][c] - m * a[k][c]);
            b[i] = static_cast<float>(b[i] - m * b[k]);
        }
    }
    if (n <= 0)
        return 1;
    x[n - 1] = static_cast<float>(static_cast<long double>(b[n - 1]) / static_cast<long double>(a[n - 1][n - 1]));
    for (int i = n - 1; i >= 0; --i) {
        long double tt = 0;
        for (int c = i + 1; c < n; ++c)
            tt += static_cast<long double>(a[i][c]) * static_cast<long double>(x[c]);
        x[i] = static_cast<float>((b[i] - tt) / static_cast<long double>(a[i][i]));
    }
    return 1;
}

void complete_proportions(int n, float* mY)
{
    long double sum = 0;
    for (int k = 0; k < n - 1; ++k)
        sum += mY[k];
    const double sum_admix = static_cast<double>(sum);
    mY[n - 1] = static_cast<float>(1.0L - static_cast<long double>(sum_admix));
}

// ---------------------------------------------------------------------------
// The precise estimate

namespace {

// A pivot of the precise elimination counts as zero when it is no larger than
// the rounding the elimination itself may leave in it: n steps of long-double
// rounding (2^-64 each) on entries as large as the largest coefficient, taken
// 8 times over for safety. Only equations that are singular in the precision of
// the precise times (double) come near it; those give pivots of about 2^-53 of
// the coefficients and fail the comparison with the reported estimate instead.
constexpr long double long_double_rounding = 1.0L / 18446744073709551616.0L;  // 2^-64

}  // namespace

PreciseEstimate::PreciseEstimate(int most_parents)
{
    reserve(most_parents);
}

void PreciseEstimate::reserve(int most_parents)
{
    const std::size_t n = static_cast<std::size_t>(most_parents > 0 ? most_parents : 0);
    _H.reserve(n);
    _P.reserve(n * n);
    _mY.reserve(n);
    _system.reserve(n * (n + 1));
}

void PreciseEstimate::start(int n)
{
    _n = n;
    _H.assign(static_cast<std::size_t>(n), 0.0);
    _P.assign(static_cast<std::size_t>(n) * static_cast<std::size_t>(n), 0.0);
}

void PreciseEstimate::add_locus(const PopulationChoice& choice, const double* tot, const double* count)
{
    const int n = _n;
    const int* rows = choice.parent_rows;
    for (int k = 0; k < n; ++k) {
        const std::size_t cell = choice.cell(choice.hybrid_row, rows[k]);
        _H[static_cast<std::size_t>(k)] += tot[cell] / count[cell];
    }
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const std::size_t cell = choice.cell(rows[i], rows[j]);
            _P[static_cast<std::size_t>(i) * n + j] += tot[cell] / count[cell];
        }
}

void PreciseEstimate::finish(int loci, float time_since_admixture, float mutation_rate)
{
    const double count = loci;
    for (double& time : _H)
        time /= count;
    for (double& time : _P)
        time /= count;
    const double admixture_term = 2.0 * static_cast<double>(time_since_admixture) * static_cast<double>(mutation_rate);
    for (int i = 0; i < _n; ++i)
        _P[static_cast<std::size_t>(i) * _n + i] += admixture_term;
}

// The normal equations in the differences from the last parent r, which is
// how they read in exact arithmetic: M[j][k] = sum_i (P[i][j] - P[i][r])
// (P[i][k] - P[i][r]), v[j] = sum_i (P[i][j] - P[i][r]) (H[i] - P[i][r]).
// Solved with partial pivoting, in long double.
bool PreciseEstimate::solve()
{
    const int n = _n;
    const int r = n - 1;
    const int width = n;  // r variables and the constant term
    _mY.assign(static_cast<std::size_t>(n > 0 ? n : 0), 0.0);
    if (n <= 0)
        return false;
    _system.assign(static_cast<std::size_t>(r) * width, 0.0L);
    const auto P = [&](int i, int j) { return static_cast<long double>(_P[static_cast<std::size_t>(i) * n + j]); };
    const auto at = [&](int row, int column) -> long double& {
        return _system[static_cast<std::size_t>(row) * width + column];
    };
    long double largest = 0;
    for (int j = 0; j < r; ++j) {
        for (int k = 0; k < r; ++k) {
            long double sum = 0;
            for (int i = 0; i < n; ++i)
                sum += (P(i, j) - P(i, r)) * (P(i, k) - P(i, r));
            at(j, k) = sum;
            largest = std::max(largest, std::fabs(sum));
        }
        long double sum = 0;
        for (int i = 0; i < n; ++i)
            sum += (P(i, j) - P(i, r)) * (static_cast<long double>(_H[static_cast<std::size_t>(i)]) - P(i, r));
        at(j, r) = sum;
    }
    if (!std::isfinite(largest))
        return false;
    const long double zero_line = 8 * n * long_double_rounding * largest;
    for (int k = 0; k < r; ++k) {
        int pivot_row = k;
        for (int i = k + 1; i < r; ++i)
            if (std::fabs(at(i, k)) > std::fabs(at(pivot_row, k)))
                pivot_row = i;
        if (!(std::fabs(at(pivot_row, k)) > zero_line))
            return false;
        if (pivot_row != k)
            for (int c = 0; c < width; ++c)
                std::swap(at(k, c), at(pivot_row, c));
        for (int i = k + 1; i < r; ++i) {
            const long double m = at(i, k) / at(k, k);
            for (int c = k; c < width; ++c)
                at(i, c) -= m * at(k, c);
        }
    }
    long double sum = 0;
    for (int i = r - 1; i >= 0; --i) {
        long double tt = at(i, r);
        for (int c = i + 1; c < r; ++c)
            tt -= at(i, c) * static_cast<long double>(_mY[static_cast<std::size_t>(c)]);
        const long double value = tt / at(i, i);
        _mY[static_cast<std::size_t>(i)] = static_cast<double>(value);
        sum += value;
    }
    _mY[static_cast<std::size_t>(r)] = static_cast<double>(1.0L - sum);
    for (double value : _mY)
        if (!std::isfinite(value))
            return false;
    return true;
}

Agreement measure_agreement(int n, const float* mY, PreciseEstimate& precise)
{
    Agreement agreement;
    if (!precise.solve()) {
        agreement.precise_singular = true;
        return agreement;
    }
    const double* star = precise.proportions();
    double largest = 1;
    for (int k = 0; k < n; ++k) {
        largest = std::max(largest, std::fabs(star[k]));
        const double difference = std::fabs(static_cast<double>(mY[k]) - star[k]);
        // a reported proportion that is not a number disagrees without measure
        agreement.disagreement = std::isnan(difference) ? std::numeric_limits<double>::infinity()
                                                        : std::max(agreement.disagreement, difference);
    }
    agreement.allowed = 1e-3 * largest;
    return agreement;
}

std::string refusal_line(const Agreement& agreement)
{
    const std::string advice = "the parental populations are too alike for this data: pool or drop one, or add loci";
    if (agreement.precise_singular)
        return "Error: the equations of the estimate are singular even when computed precisely: " + advice + "\n";
    return "Error: the estimate was refused: its proportions lie up to " + format_real(agreement.disagreement) +
           " from a precise recomputation, more than the " + format_real(agreement.allowed) +
           " its digits need; " + advice + "\n";
}

}  // namespace estimate_core
