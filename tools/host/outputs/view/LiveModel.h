// outputs/view/: the terminal view: the devices, their entries and the log, live or as plain text.
#pragma once

#include "ChangeEvent.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace host {

// The latest record of every entry, for the terminal view.
class LiveModel : public ChangeListener {
public:
    struct Entry {
        ChangeEvent::Kind kind = ChangeEvent::Kind::controller;
        std::uint32_t entry = 0;
        std::string device;
        quorlix_con_data con{};
        quorlix_tra_data tra{};
        bool lost = false;  // the device's line is lost; nothing shows pressed
    };

    void changed(const ChangeEvent& event) override;

    // Entries in storage order, controllers first; and whether anything
    // changed since the last call.
    std::vector<Entry> entries(bool& changedSince);

private:
    std::mutex mutex_;
    std::map<std::pair<int, std::uint32_t>, Entry> entries_;
    bool dirty_ = true;
};

}  // namespace host
