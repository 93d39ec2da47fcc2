#include "LockWatch.h"

#include "HostLog.h"
#include "ProcessInfo.h"

namespace host {

std::vector<std::string> LockWatch::warnings(std::chrono::steady_clock::time_point now) {
    std::vector<std::string> lines;
    std::map<std::string, Held> still;
    for (const SharedStorages::HeldLock& lock : storages_.locksHeldElsewhere()) {
        Held held = {lock.holder, now, false};
        auto before = held_.find(lock.kind);
        if (before != held_.end() && before->second.holder == lock.holder) held = before->second;
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - held.since).count();
        if (seconds >= 1) {
            std::string who = lock.holder > 0 ? describeProcess(lock.holder) : "another process";
            std::string line = std::string("the ") + lock.kind + " lock is held by " + who + " for " +
                               std::to_string(seconds) + " s; the devices wait for it";
            lines.push_back(line);
            if (!held.told) hostMessage(std::string("the ") + lock.kind + " lock is held by " + who +
                                        " for more than a second; the devices wait for it");
            held.told = true;
        }
        still[lock.kind] = held;
    }
    held_ = std::move(still);
    return lines;
}

}  // namespace host
