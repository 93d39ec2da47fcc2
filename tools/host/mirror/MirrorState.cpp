#include "MirrorState.h"

#include <algorithm>

namespace host {

namespace {

constexpr std::size_t kRecordsKept = 2 * QUORLIX_SHM_ENTRIES;

std::uint32_t bit(std::uint32_t entry) { return 1u << (entry - 1); }

}  // namespace

MirrorState::MirrorState(MirrorTarget& target, MirrorCounts& counts, Note note)
    : target_(target), counts_(counts), note_(std::move(note)) {}

MirrorState::Sender& MirrorState::senderOf(const std::string& name, Clock::time_point now) {
    auto found = senders_.find(name);
    if (found != senders_.end()) return found->second;
    if (senders_.size() >= kSendersKept) {
        // A flood of forged sources must not grow this: the longest silent
        // one that is not followed makes room.
        auto oldest = senders_.end();
        for (auto s = senders_.begin(); s != senders_.end(); ++s)
            if (s->first != followed_ && (oldest == senders_.end() || s->second.lastHeard < oldest->second.lastHeard))
                oldest = s;
        senders_.erase(oldest);
    }
    Sender& sender = senders_[name];
    sender.lastHeard = now;
    return sender;
}

std::string MirrorState::receive(const std::string& name, const void* data, std::size_t size,
                                 Clock::time_point now) {
    const std::string wrong = readMirrorDatagram(data, size, messages_);
    if (!wrong.empty()) {
        ++counts_.bad;
        return wrong;
    }
    Sender& sender = senderOf(name, now);
    sender.lastHeard = now;
    for (const MirrorMessage& m : messages_) {
        const std::uint32_t skipped = sender.gaps.see(m.sequence);
        const bool following = name == followed_;
        if (following) counts_.lost += skipped;
        if (m.isRecord()) {
            ++counts_.records;
            sender.records.push_back(m);
            if (sender.records.size() > kRecordsKept) sender.records.pop_front();
            if (following) {
                released_ = false;
                write(m);
            } else {
                ++counts_.others;
            }
        } else if (m.kind == MirrorMessage::Kind::keyframe) {
            keyframe(name, sender, m, now);
        } else if (following) {
            releaseAll(name + " said goodbye (it stopped)");
        } else {
            ++counts_.others;
        }
    }
    return "";
}

bool MirrorState::mayTakeOver(Clock::time_point now) const {
    if (followed_.empty() || released_) return true;
    const auto found = senders_.find(followed_);
    return found == senders_.end() || now - found->second.lastHeard >= kTakeOverAfter;
}

void MirrorState::keyframe(const std::string& name, Sender& sender, const MirrorMessage& end,
                           Clock::time_point now) {
    // A keyframe's records are the sender's last before its end, entry by
    // entry, controllers first: a keyframe with one of them missing (lost,
    // or never sent by a forger) changes nothing.
    const std::uint32_t parts = end.controllers + end.trackers;
    std::vector<const MirrorMessage*> records;
    for (std::uint32_t i = 0; i < parts; ++i) {
        const std::uint32_t sequence = end.sequence - parts + i;
        const bool controller = i < end.controllers;
        const std::uint32_t entry = controller ? i + 1 : i - end.controllers + 1;
        const auto kind = controller ? MirrorMessage::Kind::controller : MirrorMessage::Kind::tracker;
        const std::uint32_t lostMarks = controller ? end.controllersLost : end.trackersLost;
        // The latest with that number: a sender started again repeats numbers.
        const auto found = std::find_if(sender.records.rbegin(), sender.records.rend(),
                                        [&](const MirrorMessage& r) { return r.sequence == sequence; });
        if (found == sender.records.rend() || found->kind != kind || found->entry != entry ||
            found->lost != ((lostMarks & bit(entry)) != 0)) {
            ++counts_.incomplete;
            return;
        }
        records.push_back(&*found);
    }
    if (name != followed_ && !mayTakeOver(now)) {
        // Two hosts publishing to one node must not make it flap between
        // them: the one followed keeps it while it is heard.
        ++counts_.others;
        if (notedOtherAt_ == Clock::time_point{} || now - notedOtherAt_ >= kOthersNotedEvery) {
            note_(name + " publishes too: not followed while " + followed_ +
                  " is heard (a node follows one host; see --from)");
            notedOtherAt_ = now;
        }
        return;
    }
    ++counts_.keyframes;
    if (name != followed_) {
        const bool first = followed_.empty();
        followed_ = name;
        note_("following " + name + (first ? "" : " (its keyframe took over)"));
    }
    for (const MirrorMessage* r : records) write(*r);
    target_.setCounts(end.controllers, end.trackers);
    released_ = false;
    if (target_.stale()) {
        target_.setStale(false);
        note_("keyframe from " + name + ": the storages are current");
    }
}

void MirrorState::write(const MirrorMessage& record) {
    if (target_.write(record)) ++counts_.written;
}

void MirrorState::tick(Clock::time_point now) {
    if (followed_.empty() || released_) return;
    const auto found = senders_.find(followed_);
    if (found == senders_.end() || now - found->second.lastHeard < kSilenceBeforeRelease) return;
    releaseAll("nothing from " + followed_ + " for " + std::to_string(kSilenceBeforeRelease.count()) + " s");
}

void MirrorState::releaseAll(const std::string& why) {
    const std::int64_t nowUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count();
    target_.releaseAll(nowUs);
    target_.setStale(true);
    released_ = true;
    note_(why + ": its buttons are released, its valuators at 0 and its entries marked lost; the storages are "
                "marked stale until its next keyframe");
}

}  // namespace host
