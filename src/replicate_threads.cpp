#include "replicate_threads.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

int default_thread_count()
{
    if (const char* forced = std::getenv("CORVANE_THREADS")) {
        char* end = nullptr;
        const long count = std::strtol(forced, &end, 10);
        if (end != forced && *end == '\0' && count >= 1 && count <= 256)
            return static_cast<int>(count);
    }
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (sched_getaffinity(0, sizeof cores, &cores) == 0 && CPU_COUNT(&cores) >= 1)
        return CPU_COUNT(&cores);
    const unsigned cores_known = std::thread::hardware_concurrency();
    return cores_known > 0 ? static_cast<int>(cores_known) : 1;
}

namespace {

// The replicates between the draws and their commits. Replicate r may be
// drawn only while r < next_to_commit + window, so its slot (r modulo the
// window) was last used by a replicate already committed. The thread that
// leaves the outcome the commits wait for commits it, and every later one
// already there: commits need no thread of their own to be woken for each
// replicate, and they stay in order since one thread at a time commits.
class ReplicatePipeline {
public:
    using Commit = std::function<bool(int, ReplicateOutcome&)>;

    ReplicatePipeline(int replicates, int threads, const Commit& commit)
        : _replicates(replicates), _window(2 * threads), _commit(commit), _slots(static_cast<std::size_t>(_window))
    {
    }

    // One thread: draw the next replicate in order, estimate it, leave its
    // outcome in its slot and commit what can be committed; until every
    // replicate is drawn or the run stops.
    void work(ReplicateEstimator& estimator)
    {
        try {
            ReplicateOutcome outcome;
            int replicate = 0;
            while (draw_next(estimator, replicate)) {
                outcome.ending = ReplicateOutcome::Ending::estimated;
                outcome.log_text.clear();
                outcome.refusal.clear();
                estimator.estimate(outcome);
                std::unique_lock<std::mutex> lock(_mutex);
                Slot& slot = slot_of(replicate);
                std::swap(slot.outcome, outcome);  // the committed outcome's storage serves again
                slot.replicate = replicate;
                if (!_committing)
                    commit_waiting(lock);
            }
        } catch (...) {
            {
                const std::lock_guard<std::mutex> lock(_mutex);
                if (!_failure)
                    _failure = std::current_exception();
                _stopping = true;
            }
            _room.notify_all();
            _done.notify_all();
        }
    }

    // The caller, once its own work has ended: returns once every replicate
    // is committed or the run stops.
    void wait_until_done()
    {
        std::unique_lock<std::mutex> lock(_mutex);
        _done.wait(lock, [this] { return _stopping || _next_to_commit > _replicates; });
    }

    void stop()
    {
        {
            const std::lock_guard<std::mutex> lock(_mutex);
            _stopping = true;
        }
        _room.notify_all();
        _done.notify_all();
    }

    std::exception_ptr failure()
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        return _failure;
    }

private:
    struct Slot {
        int replicate = 0;  // the replicate whose outcome it holds, 0 for none yet
        ReplicateOutcome outcome;
    };

    Slot& slot_of(int replicate) { return _slots[static_cast<std::size_t>(replicate % _window)]; }

    // With the lock held: commits, in order, each replicate whose outcome is
    // there. The lock is let go while one is committed: its slot is not used
    // again before the commit ends, and outcomes left meanwhile are seen at the
    // next look. An exception from a commit leaves `_committing` set, so that
    // no other thread commits after it; the run stops with it.
    void commit_waiting(std::unique_lock<std::mutex>& lock)
    {
        _committing = true;
        while (!_stopping && _next_to_commit <= _replicates && slot_of(_next_to_commit).replicate == _next_to_commit) {
            const int replicate = _next_to_commit;
            lock.unlock();
            const bool go_on = _commit(replicate, slot_of(replicate).outcome);
            lock.lock();
            _next_to_commit = replicate + 1;
            _stopping = _stopping || !go_on;
            _room.notify_all();
        }
        _committing = false;
        if (_stopping || _next_to_commit > _replicates)
            _done.notify_all();
    }

    // Takes the next replicate number and makes its draws, both under the draw
    // lock, so that the generator's numbers go to the replicates in order.
    bool draw_next(ReplicateEstimator& estimator, int& replicate)
    {
        const std::lock_guard<std::mutex> draw_lock(_draw_mutex);
        {
            std::unique_lock<std::mutex> lock(_mutex);
            _room.wait(lock, [this] {
                return _stopping || _next_to_draw > _replicates || _next_to_draw < _next_to_commit + _window;
            });
            if (_stopping || _next_to_draw > _replicates)
                return false;
            replicate = _next_to_draw++;
        }
        estimator.draw();
        return true;
    }

    const int _replicates;
    const int _window;
    const Commit& _commit;
    std::mutex _draw_mutex;
    std::mutex _mutex;             // guards everything below and the slots' hand-over
    std::condition_variable _room;  // a thread waits for room in the window
    std::condition_variable _done;  // the caller waits for the end
    std::vector<Slot> _slots;
    int _next_to_draw = 1;
    int _next_to_commit = 1;
    bool _committing = false;
    bool _stopping = false;
    std::exception_ptr _failure;
};

// SIGINT and SIGTERM blocked while it lives: threads started meanwhile keep
// them blocked, so that an interrupt is noted on the run's own thread, which
// looks for it between its steps.
class InterruptsBlocked {
public:
    InterruptsBlocked()
    {
        sigset_t interrupts;
        sigemptyset(&interrupts);
        sigaddset(&interrupts, SIGINT);
        sigaddset(&interrupts, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &interrupts, &_before);
    }
    ~InterruptsBlocked() { pthread_sigmask(SIG_SETMASK, &_before, nullptr); }
    InterruptsBlocked(const InterruptsBlocked&) = delete;
    InterruptsBlocked& operator=(const InterruptsBlocked&) = delete;

private:
    sigset_t _before;
};

// Starts up to `count` threads, made by start(0), start(1), ..., as many as
// can be had, with the interrupts blocked.
template <class Start>
void start_threads(std::vector<std::thread>& threads, std::size_t count, Start start)
{
    threads.reserve(threads.size() + count);  // a thread made is never lost to a failed growth
    const InterruptsBlocked blocked;
    try {
        for (std::size_t t = 0; t < count; ++t)
            threads.push_back(start(t));
    } catch (const std::system_error&) {
        // as many threads as could be had
    } catch (const std::bad_alloc&) {
        // the same: no memory for one more thread
    }
}

// The `turn`-th core after `here` among the `allowed` ones, counted round.
int core_in_turn(const cpu_set_t& allowed, int here, std::size_t turn)
{
    std::size_t steps = turn % static_cast<std::size_t>(CPU_COUNT(&allowed));
    int core = here;
    while (steps > 0) {
        core = (core + 1) % CPU_SETSIZE;
        if (CPU_ISSET(core, &allowed))
            --steps;
    }
    return core;
}

}  // namespace

std::thread thread_on_core_in_turn(std::function<void()> work, std::size_t turn)
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    const int here = sched_getcpu();
    cpu_set_t chosen;
    CPU_ZERO(&chosen);
    const bool placeable = here >= 0 && sched_getaffinity(0, sizeof allowed, &allowed) == 0 &&
                           CPU_COUNT(&allowed) >= 2 && CPU_ISSET(here, &allowed);
    if (placeable)
        CPU_SET(core_in_turn(allowed, here, turn), &chosen);
    // Nothing that could throw comes after the start: a thread left running
    // by an exception would end the program.
    std::thread thread(std::move(work));
    if (placeable) {
        // Moved to the chosen core's queue, then let free again: it stays
        // there unless another core that falls idle takes it over, as the
        // kernel's balancing does for any thread.
        pthread_setaffinity_np(thread.native_handle(), sizeof chosen, &chosen);
        pthread_setaffinity_np(thread.native_handle(), sizeof allowed, &allowed);
    }
    return thread;
}

std::thread thread_without_interrupts(std::function<void()> work)
{
    const InterruptsBlocked blocked;
    return thread_on_core_in_turn(std::move(work), 1);
}

void run_side_by_side(int count, int threads, const std::function<void(int)>& task)
{
    std::mutex mutex;
    int next = 0;
    std::exception_ptr failure;
    // Each thread, the caller's too, takes the next task until none is left
    // or one has failed.
    const auto take_tasks = [&] {
        for (;;) {
            int mine = 0;
            {
                const std::lock_guard<std::mutex> lock(mutex);
                if (next >= count || failure)
                    return;
                mine = next++;
            }
            try {
                task(mine);
            } catch (...) {
                const std::lock_guard<std::mutex> lock(mutex);
                if (!failure)
                    failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> helpers;
    const int wanted = std::max(0, std::min(threads, count) - 1);
    start_threads(helpers, static_cast<std::size_t>(wanted),
                  [&](std::size_t t) { return thread_on_core_in_turn(take_tasks, t + 1); });
    take_tasks();
    for (std::thread& helper : helpers)
        helper.join();
    if (failure)
        std::rethrow_exception(failure);
}

int estimate_replicates_in_parallel(int replicates, int threads,
                                    const std::function<std::unique_ptr<ReplicateEstimator>()>& make_estimator,
                                    const std::function<bool(int, ReplicateOutcome&)>& commit)
{
    std::vector<std::unique_ptr<ReplicateEstimator>> estimators;
    for (int t = 0; t < threads; ++t)
        estimators.push_back(make_estimator());
    ReplicatePipeline pipeline(replicates, threads, commit);
    std::vector<std::thread> workers;
    // Whatever way this is left, the threads are stopped and joined.
    struct JoinWhenDone {
        ReplicatePipeline& pipeline;
        std::vector<std::thread>& workers;
        ~JoinWhenDone()
        {
            pipeline.stop();
            for (std::thread& worker : workers)
                worker.join();
        }
    } join_when_done{pipeline, workers};
    // The caller is the first of the threads; the others start beside it, as
    // many as can be had.
    start_threads(workers, estimators.size() - 1,
                  [&](std::size_t t) {
                      ReplicateEstimator& estimator = *estimators[t + 1];
                      return thread_on_core_in_turn([&pipeline, &estimator] { pipeline.work(estimator); }, t + 1);
                  });
    pipeline.work(*estimators[0]);
    pipeline.wait_until_done();
    pipeline.stop();
    for (std::thread& worker : workers)
        worker.join();
    const int threads_that_ran = 1 + static_cast<int>(workers.size());
    workers.clear();
    if (const std::exception_ptr failure = pipeline.failure())
        std::rethrow_exception(failure);
    return threads_that_ran;
}
