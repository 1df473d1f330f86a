#ifndef CORVANE_LOG_WRITER_H
#define CORVANE_LOG_WRITER_H

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

// Writes finished log lines to a stream on a thread of its own while the
// engine computes the next bootstrap replicate. The lines go out in the order
// they were handed over, each in one write followed by a flush, exactly as the
// engine would write them itself, so the file comes out byte for byte the same.
// Nothing else may use the stream until finish() has returned.
class BackgroundLineWriter {
public:
    explicit BackgroundLineWriter(std::ostream& out);
    ~BackgroundLineWriter();
    BackgroundLineWriter(const BackgroundLineWriter&) = delete;
    BackgroundLineWriter& operator=(const BackgroundLineWriter&) = delete;

    // Whole lines, each ending with a line end.
    void hand_over(std::string lines);
    // Returns once every line handed over is written; the thread has ended.
    void finish();
    // True once a write of the stream has failed.
    bool failed() const { return _failed.load(); }

private:
    void run();

    std::ostream& _out;
    std::mutex _mutex;
    std::condition_variable _wake;
    std::deque<std::string> _pending;
    bool _finishing = false;
    std::atomic<bool> _failed{false};
    std::thread _thread;
};

#endif
