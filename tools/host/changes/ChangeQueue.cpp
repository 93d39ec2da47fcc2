#include "ChangeQueue.h"

namespace host {

ChangeQueue::ChangeQueue(std::size_t capacity) : ring_(capacity > 0 ? capacity : 1) {}

bool ChangeQueue::push(const PublishedRecord& record) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (size_ == ring_.size()) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        ring_[(head_ + size_) % ring_.size()] = record;
        ++size_;
    }
    ready_.notify_one();
    return true;
}

void ChangeQueue::takeAll(std::vector<PublishedRecord>& out, std::chrono::steady_clock::time_point until) {
    out.clear();
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_until(lock, until, [this] { return size_ > 0 || closed_; });
    out.reserve(size_);
    for (; size_ > 0; --size_) {
        out.push_back(ring_[head_]);
        head_ = (head_ + 1) % ring_.size();
    }
}

void ChangeQueue::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

bool ChangeQueue::closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

}  // namespace host
