#include "log_writer.h"

#include <utility>

BackgroundLineWriter::BackgroundLineWriter(std::ostream& out) : _out(out), _thread(&BackgroundLineWriter::run, this) {}

BackgroundLineWriter::~BackgroundLineWriter()
{
    finish();
}

void BackgroundLineWriter::hand_over(std::string lines)
{
    if (lines.empty())
        return;
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        _pending.push_back(std::move(lines));
    }
    _wake.notify_one();
}

void BackgroundLineWriter::finish()
{
    if (!_thread.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(_mutex);
        _finishing = true;
    }
    _wake.notify_one();
    _thread.join();
}

void BackgroundLineWriter::run()
{
    for (;;) {
        std::string lines;
        {
            std::unique_lock<std::mutex> lock(_mutex);
            _wake.wait(lock, [this] { return !_pending.empty() || _finishing; });
            if (_pending.empty())
                return;  // finishing, and everything is written
            lines = std::move(_pending.front());
            _pending.pop_front();
        }
        std::size_t start = 0;
        while (start < lines.size()) {
            std::size_t end = lines.find('\n', start);
            end = end == std::string::npos ? lines.size() : end + 1;
            _out.write(lines.data() + start, static_cast<std::streamsize>(end - start));
            _out.flush();
            start = end;
        }
        if (!_out)
            _failed = true;
    }
}
