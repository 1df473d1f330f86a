#include "replicate_estimator.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "COEF_ADMIX.h"
#include "estimate_core.h"
#include "log_blocks.h"
#include "pair_sums.h"

namespace {

bool all_finite(const float* values, int count)
{
    return std::all_of(values, values + count, [](float value) { return std::isfinite(value); });
}

// Decimal digits of a count no larger than `largest`, with its blank.
std::size_t count_text_bytes(long long largest)
{
    std::size_t digits = 1;
    for (; largest >= 10; largest /= 10)
        ++digits;
    return digits + 1;
}

}  // namespace

// One thread's storage: the replicate's counts (or loci drawn), the pair sums
// of a locus, both rounded and precise, the times, the equations, the
// proportions and the precise estimate, and the log text's line builder.
class ReplicateOnThread : public ReplicateEstimator {
public:
    ReplicateOnThread(Coef_Admixture& record, bool resample_loci, bool log_blocks)
        : _c(record), _loci(resample_loci), _log_blocks(log_blocks), _n(record._nb_parent_pops),
          _populations(record._nb_parent_pops + 1), _out(&_gatherer)
    {
        const std::size_t n = static_cast<std::size_t>(_n);
        const std::size_t cells = static_cast<std::size_t>(_populations) * _populations;
        if (_loci) {
            _drawn.reserve(static_cast<std::size_t>(_c._nb_loci));
        } else {
            make_counts();
            int most = 0;
            for (int l = 0; l < _c._nb_loci; ++l)
                most = std::max(most, _c._num_alleles_loci[l]);
            _pair_sums = std::make_unique<PairSums>(_populations, most);
            _tot.assign(cells, 0.0f);
            _count.assign(cells, 0.0f);
            _precise_tot.assign(cells, 0.0);
            _precise_count.assign(cells, 0.0);
        }
        _H.assign(n, 0.0f);
        _v.assign(n, 0.0f);
        _mY.assign(n, 0.0f);
        _P = square(_P_block, _P_rows);
        _M = square(_M_block, _M_rows);
        _precise.reserve(_n);
        _choice = estimate_core::every_population(_n, _parent_rows);
        if (_log_blocks)
            _log_text_bytes = static_cast<std::size_t>(replicate_log_text_bytes(record, resample_loci));
    }

    // Under the draw lock: the loci drawn, or the generator moved past the
    // replicate's copies, whose draws are then made in estimate(), side by
    // side with the other threads'; or, when some sample cannot be drawn
    // apart, the copies drawn here.
    void draw() override
    {
        if (_loci)
            _c.draw_loci(_drawn);
        else if (_c.copy_draws_reservable())
            _draws_start = _c.reserve_copy_draws();
        else
            _c.draw_copies(_counts.data());
    }

    void estimate(ReplicateOutcome& outcome) override
    {
        if (!_loci && _c.copy_draws_reservable())
            _c.draw_copies_from(_draws_start, _counts.data());
        // Room for the whole text at once: a text that grew step by step would
        // be copied into fresh memory at every step.
        if (_log_blocks && outcome.log_text.capacity() < _log_text_bytes)
            outcome.log_text.reserve(_log_text_bytes);
        _gatherer.gather_into(&outcome.log_text);
        if (_loci)
            times_of_drawn_loci();
        else
            times_of_drawn_copies();
        finish(outcome);
    }

private:
    void make_counts()
    {
        const std::size_t L = static_cast<std::size_t>(_c._nb_loci);
        const std::size_t populations = static_cast<std::size_t>(_populations);
        std::size_t haplotypes = 0;
        for (std::size_t l = 0; l < L; ++l)
            haplotypes += static_cast<std::size_t>(_c._num_alleles_loci[l]);
        _counts.resize(L);
        _count_rows.resize(L * populations);
        _count_block.resize(populations * haplotypes);
        std::size_t next = 0;
        for (std::size_t l = 0; l < L; ++l) {
            _counts[l] = &_count_rows[l * populations];
            for (std::size_t p = 0; p < populations; ++p, next += static_cast<std::size_t>(_c._num_alleles_loci[l]))
                _counts[l][p] = &_count_block[next];
        }
    }

    float** square(std::vector<float>& block, std::vector<float*>& rows)
    {
        const std::size_t n = static_cast<std::size_t>(_n);
        block.assign(n * n, 0.0f);
        rows.resize(n);
        for (std::size_t i = 0; i < n; ++i)
            rows[i] = &block[i * n];
        return rows.data();
    }

    void times_of_drawn_copies()
    {
        const int L = _c._nb_loci;
        if (_log_blocks)
            log_blocks::bootstrapped_frequencies(_out, _line, L, _populations, _c._num_alleles_loci, _counts.data());
        estimate_core::clear_times(_n, _H.data(), _P);
        _precise.start(_n);
        for (int l = 0; l < L; ++l) {
            LocusPairData locus;
            locus.populations = _populations;
            locus.haplotypes = _c._num_alleles_loci[l];
            locus.distance = _c._dist_haplotypes[l];
            locus.counts = _counts[l];
            locus.whole_distance_bound = _c._whole_distance_bound[l];
            locus.distances_normal = _c._distances_normal[l] != 0;
            _pair_sums->compute(locus, _tot.data(), _count.data(), _precise_tot.data(), _precise_count.data());
            estimate_core::add_locus_means(_choice, _tot.data(), _count.data(), _H.data(), _P);
            _precise.add_locus(_choice, _precise_tot.data(), _precise_count.data());
        }
        estimate_core::finish_times(_n, L, _H.data(), _P);
        _precise.finish(L, _c._time_to_admix_event, _c._mutation_rate_per_year);
        _last_tot = _tot.data();
        _last_count = _count.data();
    }

    void times_of_drawn_loci()
    {
        if (_log_blocks)
            log_blocks::bootstrapped_loci(_out, _line, _drawn);
        const std::size_t cells = static_cast<std::size_t>(_populations) * _populations;
        estimate_core::clear_times(_n, _H.data(), _P);
        _precise.start(_n);
        for (const int locus : _drawn) {
            const std::size_t at = static_cast<std::size_t>(locus) * cells;
            estimate_core::add_locus_means(_choice, &_c._locus_tot_diff[at], &_c._locus_count_diff[at], _H.data(),
                                           _P);
            _precise.add_locus(_choice, &_c._locus_precise_tot[at], &_c._locus_precise_count[at]);
        }
        estimate_core::finish_times(_n, static_cast<int>(_drawn.size()), _H.data(), _P);
        _precise.finish(static_cast<int>(_drawn.size()), _c._time_to_admix_event, _c._mutation_rate_per_year);
        const std::size_t last = static_cast<std::size_t>(_drawn.back()) * cells;
        _last_tot = &_c._locus_tot_diff[last];
        _last_count = &_c._locus_count_diff[last];
    }

    // The rest of the chain once the times are formed, with the record's stops.
    void finish(ReplicateOutcome& outcome)
    {
        using Ending = ReplicateOutcome::Ending;
        if (_log_blocks)
            log_blocks::coalescence_times(_out, _line, _n, _c._time_to_admix_event, _last_tot, _last_count,
                                          _H.data(), _P);
        if (!estimate_core::distinct_parents_apart(_n, _P)) {
            outcome.ending = Ending::mean_times_zero;
            return;
        }
        estimate_core::add_admixture_term(_n, _c._time_to_admix_event, _c._mutation_rate_per_year, _P);
        estimate_core::form_equations(_n, _P, _H.data(), _M, _v.data());
        if (_log_blocks)
            log_blocks::linear_equations(_out, _line, _n, _M, _v.data());
        if (!all_finite(_H.data(), _n) || !all_finite(_v.data(), _n) || !all_finite(_P_block.data(), _n * _n) ||
            !all_finite(_M_block.data(), _n * _n)) {
            outcome.ending = Ending::not_finite;
            return;
        }
        if (!estimate_core::solve_without_pivoting(_n - 1, _M, _v.data(), _mY.data())) {
            outcome.ending = Ending::gaussian;
            return;
        }
        estimate_core::complete_proportions(_n, _mY.data());
        const estimate_core::Agreement agreement = estimate_core::measure_agreement(_n, _mY.data(), _precise);
        if (agreement.refused()) {
            outcome.ending = Ending::refused;
            outcome.refusal = estimate_core::refusal_line(agreement);
            return;
        }
        if (!all_finite(_mY.data(), _n)) {
            outcome.ending = Ending::not_finite;
            return;
        }
        outcome.estimates.assign(_mY.begin(), _mY.end());
    }

    Coef_Admixture& _c;
    const bool _loci;
    const bool _log_blocks;
    std::size_t _log_text_bytes = 0;  // the longest log text of a replicate
    const int _n;
    const int _populations;
    std::vector<int**> _counts;
    std::vector<int*> _count_rows;
    std::vector<int> _count_block;
    std::vector<int> _drawn;
    std::uint32_t _draws_start = 0;
    std::unique_ptr<PairSums> _pair_sums;
    std::vector<float> _tot, _count;
    std::vector<double> _precise_tot, _precise_count;
    const float* _last_tot = nullptr;
    const float* _last_count = nullptr;
    std::vector<float> _H, _v, _mY, _P_block, _M_block;
    std::vector<float*> _P_rows, _M_rows;
    float** _P = nullptr;
    float** _M = nullptr;
    estimate_core::PreciseEstimate _precise;
    std::vector<int> _parent_rows;
    estimate_core::PopulationChoice _choice;
    TextLine _line;
    log_blocks::TextGatherer _gatherer;
    std::ostream _out;
};

std::unique_ptr<ReplicateEstimator> make_replicate_estimator(Coef_Admixture& record, bool resample_loci,
                                                             bool log_blocks)
{
    return std::make_unique<ReplicateOnThread>(record, resample_loci, log_blocks);
}

// The log text of one replicate, at most: per locus its heading and one line
// per population with a count per haplotype, each at most as long as the
// sample size; then the times and the equations.
long double replicate_log_text_bytes(const Coef_Admixture& record, bool resample_loci)
{
    const long double populations = record._nb_parent_pops + 1.0L;
    const long double cells = populations * populations;
    long double text = 64 + (cells + populations) * 100 + populations * populations * 40;
    for (int l = 0; l < record._nb_loci; ++l) {
        if (resample_loci) {
            text += 12;
            continue;
        }
        text += 20;
        for (int p = 0; p < record._nb_parent_pops + 1; ++p)
            text += 16 + static_cast<long double>(record._num_alleles_loci[l]) *
                             count_text_bytes(record._sample_sizes[l][p]);
    }
    return text;
}

// The tables above, and `texts` log texts of one replicate.
long double replicate_thread_bytes(const Coef_Admixture& record, bool resample_loci, bool log_blocks, int texts)
{
    const long double overhead = 16;
    const long double L = record._nb_loci;
    const long double populations = record._nb_parent_pops + 1.0L;
    const long double cells = populations * populations;
    long double haplotypes = 0;
    int most = 0;
    for (int l = 0; l < record._nb_loci; ++l) {
        haplotypes += record._num_alleles_loci[l];
        most = std::max(most, record._num_alleles_loci[l]);
    }
    long double bytes = 4 * (3 * populations + 2 * cells) + 24 * cells + 20 * overhead;  // times, equations, tables
    if (resample_loci)
        bytes += 4 * L;
    else
        bytes += 8 * L + 8 * L * populations + 4 * populations * haplotypes +
                 PairSums::working_bytes(populations, most);
    return log_blocks ? bytes + texts * replicate_log_text_bytes(record, resample_loci) : bytes;
}
