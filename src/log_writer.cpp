#include "log_writer.h"

#include <utility>

#include "replicate_threads.h"

BlockLogWriter::BlockLogWriter(std::ostream& out) : _out(out), _thread(thread_on_core_in_turn([this] { run(); }, 1))
{
}

BlockLogWriter::~BlockLogWriter()
{
    finish();
}

void BlockLogWriter::hand_over(std::string block)
{
    if (block.empty())
        return;
    {
        std::unique_lock<std::mutex> lock(_mutex);
        _work_or_room.wait(lock, [this] { return _pending.size() < queued_blocks; });
        _pending.push_back(std::move(block));
    }
    _work_or_room.notify_all();
}

void BlockLogWriter::wait_until_written()
{
    std::unique_lock<std::mutex> lock(_mutex);
    _work_or_room.wait(lock, [this] { return _pending.empty() && !_writing; });
}

void BlockLogWriter::write_after_queue(const std::string& lines)
{
    // Once the queue is empty and no block is being written, the thread waits
    // for work and leaves the stream alone until the next hand-over.
    wait_until_written();
    if (!lines.empty())
        write_and_flush(lines);
}

void BlockLogWriter::write_and_flush(const std::string& lines)
{
    _out.write(lines.data(), static_cast<std::streamsize>(lines.size()));
    _out.flush();
    if (!_out)
        _failed = true;
}

void BlockLogWriter::finish()
{
    if (!_thread.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        _finishing = true;
    }
    _work_or_room.notify_all();
    _thread.join();
}

void BlockLogWriter::run()
{
    for (;;) {
        std::string block;
        {
            std::unique_lock<std::mutex> lock(_mutex);
            _work_or_room.wait(lock, [this] { return !_pending.empty() || _finishing; });
            if (_pending.empty())
                return;  // finishing, and everything is written
            block = std::move(_pending.front());
            _pending.pop_front();
            _writing = true;
        }
        _work_or_room.notify_all();  // room in the queue
        write_and_flush(block);
        {
            const std::lock_guard<std::mutex> lock(_mutex);
            _writing = false;
        }
        _work_or_room.notify_all();  // perhaps everything is written
    }
}

LogBlocks::LogBlocks(BlockLogWriter& writer) : _writer(writer)
{
    _gathered.reserve(block_bytes);
}

void LogBlocks::end_replicate()
{
    _writer.write_after_queue(_gathered);
    _gathered.clear();
}

std::size_t LogBlocks::longest_line_bytes(int most_haplotypes)
{
    // "Population p: " and each count with its blank, at most 11 characters.
    return 32 + 12 * static_cast<std::size_t>(most_haplotypes > 0 ? most_haplotypes : 0);
}

std::streamsize LogBlocks::xsputn(const char* text, std::streamsize count)
{
    _gathered.append(text, static_cast<std::size_t>(count));
    return count;
}

LogBlocks::int_type LogBlocks::overflow(int_type ch)
{
    if (!traits_type::eq_int_type(ch, traits_type::eof()))
        _gathered.push_back(traits_type::to_char_type(ch));
    return traits_type::not_eof(ch);
}

int LogBlocks::sync()
{
    if (_gathered.size() >= block_bytes)
        hand_over();
    return 0;
}

void LogBlocks::hand_over()
{
    if (_gathered.empty())
        return;
    std::string block;
    block.reserve(block_bytes);
    block.swap(_gathered);
    _writer.hand_over(std::move(block));
}
