// outputs/view/: the terminal view: the devices, their entries and the log, live or as plain text.
#pragma once

#include "ChangeEvent.h"
#include "QueuedOutput.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace host {

// The latest record of every entry, for the terminal view, kept from a
// queue of its own.
class LiveModel : public QueuedOutput {
public:
    static constexpr std::size_t kQueueCapacity = 1024;
    struct Entry {
        ChangeEvent::Kind kind = ChangeEvent::Kind::controller;
        std::uint32_t entry = 0;
        std::string device;
        quorlix_con_data con{};
        quorlix_tra_data tra{};
        bool lost = false;  // the device's line is lost; nothing shows pressed
    };

    LiveModel() : QueuedOutput(kQueueCapacity) {}
    ~LiveModel() override { stop(std::chrono::steady_clock::now()); }

    // Entries in storage order, controllers first; and whether anything
    // changed since the last call.
    std::vector<Entry> entries(bool& changedSince);

private:
    void run() override;

    std::mutex mutex_;
    std::map<std::pair<int, std::uint32_t>, Entry> entries_;
    bool dirty_ = true;
};

}  // namespace host
