#ifndef CORVANE_SCAN_MODEL_FIT_H
#define CORVANE_SCAN_MODEL_FIT_H

// One model of the scan: a set of sources taken from the candidates, the other
// candidates serving as its references.
//
// - The estimate is the estimator's own arithmetic on the hybrid and the
//   sources, the measured refusal included, read from the shared pair sums.
// - The fit: for every reference o, the residual e_o = T(H, o) - sum_k mY_k T(S_k, o)
//   (mean coalescence times over the loci, in double from the pair sums before
//   rounding; mY the reported single-precision estimate), its covariance V from
//   the delete-one-locus jackknife (every time and mY recomputed without the
//   locus), and Q = e' V^-1 e, the T^2 statistic of a mean vector.
// - The standard errors: the same jackknife, or a locus bootstrap whose draws
//   every model shares.

#include <string>
#include <vector>

#include "estimate_core.h"
#include "locus_tables.h"

namespace scan {

struct ModelResult {
    std::vector<int> sources;         // rows of the pair-sum tables, in the order of mY
    std::vector<int> references;
    std::vector<float> mY;            // empty when refused
    std::string refused;              // why the estimate (or a recomputation of it) was refused
    bool feasible = false;            // every mY within [0, 1]
    // Standard errors: the jackknife's, or the bootstrap's SD; empty when they
    // could not be had (standard_error_note says why).
    std::vector<double> standard_errors;
    std::string standard_error_note;
    // The bootstrap (when asked for): means, SDs and the 2.5 % and 97.5 % quantiles.
    std::vector<float> bootstrap_means, bootstrap_sds;
    std::vector<double> quantile_2_5, quantile_97_5;
    // The fit: Q and its degrees of freedom, R and L - R; fitted false when Q
    // cannot be had (fit_note says why).
    bool fitted = false;
    double Q = 0;
    int references_df = 0;
    int loci_df = 0;
    std::string fit_note;
    double p = 0;                     // P(F(R, L-R) >= (L-R)/(R(L-1)) Q), filled once every model is fitted
};

// The estimate of one model on some loci, in the order given (a locus may come
// more than once): the reported proportions, or why they were refused.
struct ModelEstimate {
    std::vector<float> mY;
    std::string refusal;
};

class ModelFitter {
public:
    // `draws`: the loci of each bootstrap replicate (none: the jackknife gives
    // the standard errors).
    ModelFitter(const LocusTables& tables, float time_since_admixture, float mutation_rate,
                const std::vector<std::vector<int>>& draws);

    ModelResult fit(const std::vector<int>& sources, const std::vector<int>& references);

    ModelEstimate estimate(const std::vector<int>& sources, const std::vector<int>& loci);

    // The residuals e_o of the references on those loci, for the proportions mY.
    std::vector<double> residuals(const std::vector<int>& sources, const std::vector<int>& references,
                                  const std::vector<int>& loci, const std::vector<float>& mY) const;

private:
    void make_room(int parents);
    void jackknife(ModelResult& result);
    void bootstrap(ModelResult& result);

    const LocusTables& _tables;
    float _time_since_admixture;
    float _mutation_rate;
    const std::vector<std::vector<int>>& _draws;
    std::vector<int> _all_loci;
    // Working storage of the estimate, made for the largest model seen so far.
    int _room = 0;
    std::vector<float> _H, _P_block, _M_block, _v, _mY;
    std::vector<float*> _P, _M;
    estimate_core::PreciseEstimate _precise;
};

// Q = e' V^-1 e by the square-root (LL') factorisation of V in long double; false when V
// is not positive definite at that precision.
bool quadratic_form(const std::vector<double>& e, const std::vector<double>& V, double& Q);

// The p-value of every fitted model (the F tail, computed after the models'
// threads are done).
void complete_p_values(std::vector<ModelResult>& results);

}  // namespace scan

#endif
