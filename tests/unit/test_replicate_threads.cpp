// The pipeline that estimates bootstrap replicates on several threads: draws
// taken in replicate order, outcomes committed in order, a stop that commits
// nothing later, a bounded number of outcomes waiting, a thread's failure
// thrown to the caller.

#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "replicate_threads.h"

namespace {

// Stands for one thread's estimator: a draw takes the next number of one
// shared sequence (as the generator's numbers are), the estimate takes a
// varying time and reports the number drawn.
class SequenceEstimator : public ReplicateEstimator {
public:
    SequenceEstimator(int& sequence, std::atomic<int>& committed, int& most_ahead, int fail_at)
        : _sequence(sequence), _committed(committed), _most_ahead(most_ahead), _fail_at(fail_at)
    {
    }
    void draw() override
    {
        _drawn = ++_sequence;
        _most_ahead = std::max(_most_ahead, _drawn - _committed.load());
    }
    void estimate(ReplicateOutcome& outcome) override
    {
        std::this_thread::sleep_for(std::chrono::microseconds(_drawn * 37 % 5 * 200));
        if (_drawn == _fail_at)
            throw std::bad_alloc();
        outcome.estimates.assign(1, static_cast<float>(_drawn));
        outcome.log_text = "replicate " + std::to_string(_drawn) + "\n";
    }

private:
    int& _sequence;
    std::atomic<int>& _committed;
    int& _most_ahead;
    const int _fail_at;
    int _drawn = 0;
};

struct PipelineRun {
    std::vector<int> committed;
    int most_ahead = 0;
};

PipelineRun run_pipeline(int replicates, int threads, int stop_at, int fail_at = 0)
{
    PipelineRun run;
    int sequence = 0;
    std::atomic<int> committed{0};
    std::atomic<bool> committing{false};
    const int ran = estimate_replicates_in_parallel(
        replicates, threads,
        [&] { return std::make_unique<SequenceEstimator>(sequence, committed, run.most_ahead, fail_at); },
        [&](int replicate, ReplicateOutcome& outcome) {
            // Commits run on the estimating threads, never two at once.
            EXPECT_FALSE(committing.exchange(true)) << "replicate " << replicate << " committed beside another";
            std::this_thread::sleep_for(std::chrono::microseconds(replicate % 3 * 100));
            committing = false;
            EXPECT_EQ(outcome.estimates.at(0), static_cast<float>(replicate));
            EXPECT_EQ(outcome.log_text, "replicate " + std::to_string(replicate) + "\n");
            run.committed.push_back(replicate);
            committed = replicate;
            return replicate != stop_at;
        });
    EXPECT_EQ(ran, threads) << "threads that ran";
    return run;
}

std::vector<int> one_to(int last)
{
    std::vector<int> numbers;
    for (int i = 1; i <= last; ++i)
        numbers.push_back(i);
    return numbers;
}

}  // namespace

TEST(ReplicateThreads, EachReplicateGetsItsOwnDrawsAndIsCommittedInOrder)
{
    for (const int threads : {1, 2, 3, 7}) {
        const PipelineRun run = run_pipeline(60, threads, 0);
        EXPECT_EQ(run.committed, one_to(60)) << threads << " threads";
        EXPECT_LE(run.most_ahead, 2 * threads) << "outcomes waiting beyond the window, " << threads << " threads";
    }
}

TEST(ReplicateThreads, AStopCommitsNoLaterReplicate)
{
    EXPECT_EQ(run_pipeline(60, 7, 17).committed, one_to(17));
}

TEST(ReplicateThreads, AThreadsFailureIsThrownToTheCaller)
{
    EXPECT_THROW(run_pipeline(60, 3, 0, 23), std::bad_alloc);
}

// A thread started on a chosen core must not stay held to it: held, every
// thread of a run could end up sharing one core.
TEST(ReplicateThreads, AThreadStartedOnACoreInTurnMayRunOnEveryCore)
{
    cpu_set_t process_cores;
    CPU_ZERO(&process_cores);
    ASSERT_EQ(sched_getaffinity(0, sizeof process_cores, &process_cores), 0);
    for (const std::size_t turn : {1, 2, 5}) {
        cpu_set_t thread_cores;
        CPU_ZERO(&thread_cores);
        std::thread thread = thread_on_core_in_turn(
            [&thread_cores] {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));  // its creator places it meanwhile
                sched_getaffinity(0, sizeof thread_cores, &thread_cores);
            },
            turn);
        thread.join();
        EXPECT_TRUE(CPU_EQUAL(&thread_cores, &process_cores)) << "turn " << turn;
    }
}
