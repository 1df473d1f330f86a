#include "model_fit.h"

#include <cmath>
#include <numeric>

#include "bootstrap_summary.h"
#include "f_distribution.h"

namespace scan {

namespace {

std::string without_line_end(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

bool within_unit_interval(const std::vector<float>& mY)
{
    for (float m : mY)
        if (!(m >= 0.0f && m <= 1.0f))
            return false;
    return true;
}

}  // namespace

ModelFitter::ModelFitter(const LocusTables& tables, float time_since_admixture, float mutation_rate,
                         const std::vector<std::vector<int>>& draws)
    : _tables(tables), _time_since_admixture(time_since_admixture), _mutation_rate(mutation_rate), _draws(draws)
{
    _all_loci.resize(static_cast<std::size_t>(tables.loci()));
    std::iota(_all_loci.begin(), _all_loci.end(), 0);
}

void ModelFitter::make_room(int parents)
{
    if (parents <= _room)
        return;
    _room = parents;
    const std::size_t n = static_cast<std::size_t>(parents);
    _H.assign(n, 0.0f);
    _v.assign(n, 0.0f);
    _mY.assign(n, 0.0f);
    _P_block.assign(n * n, 0.0f);
    _M_block.assign(n * n, 0.0f);
    _P.resize(n);
    _M.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        _P[i] = &_P_block[i * n];
        _M[i] = &_M_block[i * n];
    }
    _precise.reserve(parents);
}

// The estimator's steps, in its order: the times, the test of distinct parents
// apart, 2 x T x mu, the equations, the solve without pivoting, the last
// proportion, then the precise estimate that decides whether the digits hold.
ModelEstimate ModelFitter::estimate(const std::vector<int>& sources, const std::vector<int>& loci)
{
    const int n = static_cast<int>(sources.size());
    make_room(n);
    estimate_core::PopulationChoice choice;
    choice.table_populations = _tables.populations();
    choice.hybrid_row = 0;
    choice.parent_rows = sources.data();
    choice.parent_count = n;

    ModelEstimate result;
    estimate_core::clear_times(n, _H.data(), _P.data());
    for (int l : loci)
        estimate_core::add_locus_means(choice, _tables.tot(l), _tables.count(l), _H.data(), _P.data());
    estimate_core::finish_times(n, static_cast<int>(loci.size()), _H.data(), _P.data());
    if (!estimate_core::distinct_parents_apart(n, _P.data())) {
        result.refusal = "two sources have a mean coalescence time of 0";
        return result;
    }
    estimate_core::add_admixture_term(n, _time_since_admixture, _mutation_rate, _P.data());
    estimate_core::form_equations(n, _P.data(), _H.data(), _M.data(), _v.data());
    if (!estimate_core::solve_without_pivoting(n - 1, _M.data(), _v.data(), _mY.data())) {
        result.refusal = "Gaussian elimination without pivoting met a zero pivot";
        return result;
    }
    estimate_core::complete_proportions(n, _mY.data());
    if (n > 1) {
        _precise.start(n);
        for (int l : loci)
            _precise.add_locus(choice, _tables.precise_tot(l), _tables.precise_count(l));
        _precise.finish(static_cast<int>(loci.size()), _time_since_admixture, _mutation_rate);
        const estimate_core::Agreement agreement = estimate_core::measure_agreement(n, _mY.data(), _precise);
        if (agreement.refused()) {
            result.refusal = without_line_end(estimate_core::refusal_line(agreement));
            return result;
        }
    }
    result.mY.assign(_mY.begin(), _mY.begin() + n);
    return result;
}

std::vector<double> ModelFitter::residuals(const std::vector<int>& sources, const std::vector<int>& references,
                                           const std::vector<int>& loci, const std::vector<float>& mY) const
{
    const int populations = _tables.populations();
    const auto mean_time = [&](int a, int b) {
        const std::size_t cell = static_cast<std::size_t>(a) * populations + b;
        double sum = 0;
        for (int l : loci)
            sum += _tables.precise_tot(l)[cell] / _tables.precise_count(l)[cell];
        return sum / static_cast<double>(loci.size());
    };
    std::vector<double> e;
    for (int o : references) {
        double residual = mean_time(0, o);
        for (std::size_t k = 0; k < sources.size(); ++k)
            residual -= static_cast<double>(mY[k]) * mean_time(sources[k], o);
        e.push_back(residual);
    }
    return e;
}

ModelResult ModelFitter::fit(const std::vector<int>& sources, const std::vector<int>& references)
{
    ModelResult result;
    result.sources = sources;
    result.references = references;
    ModelEstimate full = estimate(sources, _all_loci);
    if (!full.refusal.empty()) {
        result.refused = full.refusal;
        result.standard_error_note = result.fit_note = "the estimate was refused";
        return result;
    }
    result.mY = full.mY;
    result.feasible = within_unit_interval(result.mY);
    jackknife(result);
    if (!_draws.empty())
        bootstrap(result);
    return result;
}

// Every locus left out in turn: the proportions and the residuals recomputed on
// the other loci, in their order; their spread, scaled by (L-1)/L, estimates
// the variance of the whole-data values.
void ModelFitter::jackknife(ModelResult& result)
{
    const int L = _tables.loci();
    const int R = static_cast<int>(result.references.size());
    const std::size_t K = result.sources.size();
    result.references_df = R;
    result.loci_df = L - R;
    if (L < 2) {
        result.standard_error_note = result.fit_note = "a single locus cannot be left out";
        return;
    }
    std::vector<std::vector<float>> mY_without(static_cast<std::size_t>(L));
    std::vector<std::vector<double>> e_without(static_cast<std::size_t>(L));
    std::vector<int> others;
    for (int l = 0; l < L; ++l) {
        others.clear();
        for (int other = 0; other < L; ++other)
            if (other != l)
                others.push_back(other);
        ModelEstimate without = estimate(result.sources, others);
        if (!without.refusal.empty()) {
            result.standard_error_note = result.fit_note =
                "without locus " + std::to_string(l) + ": " + without.refusal;
            return;
        }
        e_without[static_cast<std::size_t>(l)] = residuals(result.sources, result.references, others, without.mY);
        mY_without[static_cast<std::size_t>(l)] = std::move(without.mY);
    }
    const double scale = static_cast<double>(L - 1) / L;
    for (std::size_t k = 0; k < K; ++k) {
        double mean = 0;
        for (const auto& values : mY_without)
            mean += values[k];
        mean /= L;
        double sum_of_squares = 0;
        for (const auto& values : mY_without)
            sum_of_squares += (values[k] - mean) * (values[k] - mean);
        result.standard_errors.push_back(std::sqrt(scale * sum_of_squares));
    }

    if (R == 0) {
        result.fit_note = "no reference is left to test the fit";
        return;
    }
    if (L <= R + 1) {
        result.fit_note = "too few loci for the references (L must exceed R + 1)";
        return;
    }
    std::vector<double> mean(static_cast<std::size_t>(R), 0.0);
    for (const auto& e : e_without)
        for (int o = 0; o < R; ++o)
            mean[o] += e[o];
    for (double& m : mean)
        m /= L;
    std::vector<double> V(static_cast<std::size_t>(R) * R, 0.0);
    for (const auto& e : e_without)
        for (int a = 0; a < R; ++a)
            for (int b = 0; b < R; ++b)
                V[static_cast<std::size_t>(a) * R + b] += (e[a] - mean[a]) * (e[b] - mean[b]);
    for (double& cell : V)
        cell *= scale;
    const std::vector<double> e = residuals(result.sources, result.references, _all_loci, result.mY);
    if (!quadratic_form(e, V, result.Q)) {
        result.fit_note = "the jackknife covariance of the residuals is singular";
        return;
    }
    result.fitted = true;
}

// The replicates' proportions summarised as the estimator's bootstrap does:
// means and SDs (divisor N-1) accumulated in extended precision and stored as
// floats, quantiles of type 7.
void ModelFitter::bootstrap(ModelResult& result)
{
    const std::size_t K = result.sources.size();
    const std::size_t B = _draws.size();
    std::vector<std::vector<float>> values(B);
    for (std::size_t r = 0; r < B; ++r) {
        ModelEstimate replicate = estimate(result.sources, _draws[r]);
        if (!replicate.refusal.empty()) {
            result.standard_errors.clear();
            result.standard_error_note = "bootstrap replicate " + std::to_string(r + 1) + ": " + replicate.refusal;
            return;
        }
        values[r] = std::move(replicate.mY);
    }
    result.standard_errors.clear();
    result.standard_error_note.clear();
    for (std::size_t k = 0; k < K; ++k) {
        long double sum = 0;
        for (const auto& v : values)
            sum += v[k];
        const float mean = B == 1 ? values[0][k] : static_cast<float>(sum / static_cast<long double>(B));
        long double squares = 0;
        for (const auto& v : values) {
            const long double difference = v[k] - static_cast<long double>(mean);
            squares += difference * difference;
        }
        const float sd = B == 1 ? 0.0f : static_cast<float>(std::sqrt(squares / static_cast<long double>(B - 1)));
        std::vector<double> column;
        for (const auto& v : values)
            column.push_back(v[k]);
        result.bootstrap_means.push_back(mean);
        result.bootstrap_sds.push_back(sd);
        result.standard_errors.push_back(sd);
        result.quantile_2_5.push_back(quantile_type7(column, 0.025));
        result.quantile_97_5.push_back(quantile_type7(column, 0.975));
    }
}

bool quadratic_form(const std::vector<double>& e, const std::vector<double>& V, double& Q)
{
    const std::size_t n = e.size();
    std::vector<long double> lower(n * n, 0.0L);
    long double largest_diagonal = 0;
    for (std::size_t i = 0; i < n; ++i)
        largest_diagonal = std::fmax(largest_diagonal, static_cast<long double>(V[i * n + i]));
    // A pivot below this share of the largest variance is rounding, not variance.
    const long double smallest_pivot = largest_diagonal * 1e-15L;
    for (std::size_t j = 0; j < n; ++j) {
        long double diagonal = V[j * n + j];
        for (std::size_t k = 0; k < j; ++k)
            diagonal -= lower[j * n + k] * lower[j * n + k];
        if (!(diagonal > smallest_pivot) || !std::isfinite(static_cast<double>(diagonal)))
            return false;
        lower[j * n + j] = std::sqrt(diagonal);
        for (std::size_t i = j + 1; i < n; ++i) {
            long double value = V[i * n + j];
            for (std::size_t k = 0; k < j; ++k)
                value -= lower[i * n + k] * lower[j * n + k];
            lower[i * n + j] = value / lower[j * n + j];
        }
    }
    // Q = |L^-1 e|^2, L^-1 e by forward substitution.
    long double sum = 0;
    std::vector<long double> y(n);
    for (std::size_t i = 0; i < n; ++i) {
        long double value = e[i];
        for (std::size_t k = 0; k < i; ++k)
            value -= lower[i * n + k] * y[k];
        y[i] = value / lower[i * n + i];
        sum += y[i] * y[i];
    }
    Q = static_cast<double>(sum);
    return std::isfinite(Q);
}

// The T^2 statistic of a mean vector, with R variables and L jackknife pseudo-values:
// (L-R) / (R (L-1)) T^2 follows F(R, L-R).
void complete_p_values(std::vector<ModelResult>& results)
{
    for (ModelResult& result : results) {
        if (!result.fitted)
            continue;
        const double R = result.references_df;
        const double L = result.loci_df + result.references_df;
        result.p = f_upper_tail(R, L - R, (L - R) / (R * (L - 1)) * result.Q);
    }
}

}  // namespace scan
