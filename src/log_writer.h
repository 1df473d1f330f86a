#ifndef CORVANE_LOG_WRITER_H
#define CORVANE_LOG_WRITER_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <thread>

// How much the log of a run holds: everything (the default), the data and
// the estimate with one line per bootstrap replicate, or nothing at all.
enum class LogDetail { full, summary, none };

// Writes blocks of finished log lines to a stream on a thread of its own while
// the engine computes. Each block goes out in one write followed by a flush, in
// the order handed over, so the file comes out byte for byte as if the engine
// had written every line itself. At most `queued_blocks` blocks wait at a time:
// handing over one more waits until the oldest is written, so the memory held
// stays the same however long the run. Nothing else may use the stream until
// finish() has returned.
class BlockLogWriter {
public:
    static constexpr std::size_t queued_blocks = 4;

    explicit BlockLogWriter(std::ostream& out);
    ~BlockLogWriter();
    BlockLogWriter(const BlockLogWriter&) = delete;
    BlockLogWriter& operator=(const BlockLogWriter&) = delete;

    // Whole lines, each ending with a line end; waits while the queue is full.
    void hand_over(std::string block);
    // Returns once every block handed over is written and flushed.
    void wait_until_written();
    // Writes and flushes `lines` on the calling thread once every block handed
    // over before is written. For the last lines of a replicate, which must be
    // in the file before the next replicate starts, a hand-over followed by a
    // wait would only add two switches between threads.
    void write_after_queue(const std::string& lines);
    // Writes what is left; the thread has ended when it returns.
    void finish();
    // True once a write of the stream has failed.
    bool failed() const { return _failed.load(); }

private:
    void run();
    // One write of whole lines and a flush; a failure is noted.
    void write_and_flush(const std::string& lines);

    std::ostream& _out;
    std::mutex _mutex;
    std::condition_variable _work_or_room;  // the writer waits for work, the engine for room
    std::deque<std::string> _pending;
    bool _writing = false;                   // a block taken from the queue is being written
    bool _finishing = false;
    std::atomic<bool> _failed{false};
    std::thread _thread;
};

// The stream buffer behind the log while bootstrap replicates run: the lines are
// gathered in memory and handed to the writer in blocks of at least block_bytes,
// always at a line end, and whatever is gathered at the end of each replicate.
class LogBlocks : public std::streambuf {
public:
    static constexpr std::size_t block_bytes = 64 * 1024;

    explicit LogBlocks(BlockLogWriter& writer);

    // Hands over the lines gathered so far and waits until they are in the
    // file, so that the file holds every finished replicate.
    void end_replicate();

    // The bytes a block may hold beyond block_bytes: one line of the longest
    // kind (a count line of a locus of `most_haplotypes` haplotypes).
    static std::size_t longest_line_bytes(int most_haplotypes);

protected:
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int_type overflow(int_type ch) override;
    // Called at each line end (the engine flushes every line): a block that has
    // grown large enough is handed over there.
    int sync() override;

private:
    void hand_over();

    BlockLogWriter& _writer;
    std::string _gathered;
};

#endif
