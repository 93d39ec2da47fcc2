#include "LiveModel.h"

namespace host {

void LiveModel::run() {
    std::vector<PublishedRecord> batch;
    for (;;) {
        queue().takeAll(batch, std::chrono::steady_clock::now() + std::chrono::seconds(1));
        const bool last = queue().closed();
        std::lock_guard<std::mutex> lock(mutex_);
        for (const PublishedRecord& r : batch) {
            Entry& e = entries_[{r.kind == ChangeEvent::Kind::controller ? 0 : 1, r.entry}];
            e.kind = r.kind;
            e.entry = r.entry;
            e.device = r.device;
            if (r.kind == ChangeEvent::Kind::controller) {
                e.con = r.con;
                e.lost = r.lost;
            } else {
                e.tra = r.tra;
            }
            dirty_ = true;
        }
        if (last && batch.empty()) return;
    }
}

std::vector<LiveModel::Entry> LiveModel::entries(bool& changedSince) {
    std::lock_guard<std::mutex> lock(mutex_);
    changedSince = dirty_;
    dirty_ = false;
    std::vector<Entry> out;
    for (const auto& e : entries_) out.push_back(e.second);
    return out;
}

}  // namespace host
