#include "LiveModel.h"

namespace host {

void LiveModel::changed(const ChangeEvent& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    Entry& e = entries_[{event.kind == ChangeEvent::Kind::controller ? 0 : 1, event.entry}];
    e.kind = event.kind;
    e.entry = event.entry;
    e.device = *event.device;
    if (event.kind == ChangeEvent::Kind::controller) {
        e.con = event.con;
        e.lost = event.lost;
    }
    else
        e.tra = event.tra;
    dirty_ = true;
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
