#include "FrameWriter.h"

#include "WriteAll.h"

#include <cerrno>
#include <iterator>

namespace host {

FrameWriter::FrameWriter(int fd, bool newestOnly, std::size_t keep)
    : fd_(fd), newestOnly_(newestOnly), keep_(keep > 0 ? keep : 1) {
    thread_.start([this] { run(); });
}

FrameWriter::~FrameWriter() { stop(std::chrono::steady_clock::now()); }

void FrameWriter::put(std::string text, bool lasting) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return;
        if (newestOnly_ && !lasting) {
            for (auto p = pending_.begin(); p != pending_.end();)
                p = p->second ? std::next(p) : pending_.erase(p);
        } else if (!newestOnly_ && pending_.size() >= keep_) {
            pending_.pop_front();
            ++skipped_;
        }
        pending_.emplace_back(std::move(text), lasting);
    }
    ready_.notify_one();
}

void FrameWriter::run() {
    for (;;) {
        std::string text;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            ready_.wait(lock, [this] { return !pending_.empty() || closed_; });
            if (pending_.empty()) return;
            text = std::move(pending_.front().first);
            pending_.pop_front();
        }
        if (failure_.load() != 0) {
            ++skipped_;  // given up at the stop, or nobody reads it any more
            continue;
        }
        if (!writeAll(fd_, text, &thread_.givingUp())) {
            failure_ = errno == EINTR ? EAGAIN : errno;
            ++skipped_;
        }
    }
}

bool FrameWriter::stop(std::chrono::steady_clock::time_point deadline) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
    return thread_.joinBefore(deadline);
}

}  // namespace host
