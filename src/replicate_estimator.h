#ifndef CORVANE_REPLICATE_ESTIMATOR_H
#define CORVANE_REPLICATE_ESTIMATOR_H

#include <memory>

#include "replicate_threads.h"

class Coef_Admixture;

// The estimate of a bootstrap replicate on a thread of its own: the draws from
// the record's observed counts (or loci), then the same chain as the record's
// methods, pair sums -> times -> equations -> solve and the precise check, on
// the thread's own tables, with the same log blocks gathered as text. The
// record is only read, but for the generator, which the draws advance under
// the pipeline's draw lock.
std::unique_ptr<ReplicateEstimator> make_replicate_estimator(Coef_Admixture& record, bool resample_loci,
                                                             bool log_blocks);

// The bytes of one replicate's log text, at most.
long double replicate_log_text_bytes(const Coef_Admixture& record, bool resample_loci);

// The bytes one such thread holds at most, its log text included (texts:
// how many replicates' log blocks it may stand for).
long double replicate_thread_bytes(const Coef_Admixture& record, bool resample_loci, bool log_blocks, int texts);

#endif
