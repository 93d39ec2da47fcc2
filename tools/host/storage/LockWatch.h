// storage/: the records the devices write and other programs read, in shared memory, and their locks.
#pragma once

#include "SharedStorages.h"

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <sys/types.h>

namespace host {

// Notices a storage lock that another process keeps for longer than a
// second: the devices cannot publish meanwhile. Each such lock is told once
// in the log and shown by the view for as long as it lasts.
class LockWatch {
public:
    explicit LockWatch(const SharedStorages& storages) : storages_(storages) {}

    // The view's lines about the locks held now.
    std::vector<std::string> warnings(std::chrono::steady_clock::time_point now);

private:
    struct Held {
        pid_t holder;
        std::chrono::steady_clock::time_point since;
        bool told;
    };
    const SharedStorages& storages_;
    std::map<std::string, Held> held_;
};

}  // namespace host
