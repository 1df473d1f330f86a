#ifndef CORVANE_REPLICATE_THREADS_H
#define CORVANE_REPLICATE_THREADS_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Bootstrap replicates estimated on several threads, their output committed in
// replicate order, so that every file comes out as from one thread.
//
// The generator's sequence is one: each replicate's draws are made under one
// lock, replicate after replicate in order, by the thread that will estimate it
// (a replicate is handed out and drawn in one step under that lock). The
// estimates then run side by side; each replicate's outcome is committed
// (written) in order, by the thread that finds it next in line, one thread at
// a time; the run's own thread is one of the threads. A replicate whose estimate
// stops the run is committed like any other: the replicates after it may have
// been estimated, but nothing of theirs is written.

// The threads a run uses by default: the cores this process may run on
// (sched_getaffinity), or CORVANE_THREADS when set to a number from 1 on (for
// tests that give the console dialogue, which reads no options, a count).
int default_thread_count();

// What a thread found for one replicate.
struct ReplicateOutcome {
    // How the estimate ended: estimated, or one of the replicate stops.
    enum class Ending { estimated, mean_times_zero, not_finite, gaussian, refused };
    Ending ending = Ending::estimated;
    std::vector<float> estimates;  // the proportions, when estimated
    std::string log_text;          // the replicate's log blocks (a full log only)
    std::string refusal;           // the message line of a refused estimate
};

// One thread's working storage for the estimate of a replicate.
class ReplicateEstimator {
public:
    virtual ~ReplicateEstimator() = default;
    // Draws the next replicate from the generator; called under the draw lock.
    virtual void draw() = 0;
    // Estimates the replicate last drawn, outside any lock.
    virtual void estimate(ReplicateOutcome& outcome) = 0;
};

// Estimates replicates 1 .. `replicates` on `threads` threads, the caller's
// among them (on fewer when no more can be had), each with an estimator made
// by `make_estimator` (on the caller's thread, before any starts), and calls
// `commit` for replicate 1, 2, ... in order, on one of those threads, never two
// at once (each call sees what the earlier ones did); `commit` returns false
// to stop the run at that replicate. At most 2 x threads outcomes wait to be
// committed, so the memory held does not grow with the replicates. Returns the
// threads that ran. An exception thrown by a thread (memory that ran out) is
// thrown again here once every thread has ended.
int estimate_replicates_in_parallel(int replicates, int threads,
                                    const std::function<std::unique_ptr<ReplicateEstimator>()>& make_estimator,
                                    const std::function<bool(int, ReplicateOutcome&)>& commit);

// Runs task(0) ... task(count - 1), each once, on up to `threads` threads, the
// caller's among them, and returns when every task has ended: for the work of
// reading a data file that splits into independent parts. When no further
// thread can be had, the threads there are run the rest. An exception thrown by
// a task (memory that ran out) is thrown again here once every thread has
// ended.
void run_side_by_side(int count, int threads, const std::function<void(int)>& task);

// A thread that runs `work`, queued first on the `turn`-th core after the
// caller's among the cores this process may use, and free to run on any of
// them. The kernel would queue it on its creator's core, where on some virtual
// machines it waits for up to a scheduler tick (a few milliseconds) for another
// core to take it while that core idles; a run of a tenth of a second starts
// several threads. Throws std::system_error when no thread can be had.
std::thread thread_on_core_in_turn(std::function<void()> work, std::size_t turn);

// A thread that runs `work` with SIGINT and SIGTERM blocked, so that an
// interrupt is noted on the run's own thread; throws std::system_error when no
// thread can be had.
std::thread thread_without_interrupts(std::function<void()> work);

// Outcomes waiting beside each thread's own: the storage estimate counts this
// many texts per thread.
constexpr int outcomes_per_thread = 3;

#endif
