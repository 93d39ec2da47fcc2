// outputs/vrpn/: the wand for VRPN clients: buttons, analogs and trackers over VRPN's own protocol.
#pragma once

#include "PublishedRecord.h"
#include "VrpnWire.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace host {

// Each device as VRPN clients know it: one sender, named as the device, with
// its buttons (vrpn_Button), valuators (vrpn_Analog) and tracker entries
// (vrpn_Tracker sensors 0, 1, ... in the order of its tracker entries), and
// the messages that tell clients of a change.
// Every client gets the same ids, so a message is made once for all.
class VrpnDevices {
public:
    // The devices known from the start; others join as their records come.
    explicit VrpnDevices(const std::vector<std::string>& names);

    // The messages a changed record makes, onto `out`: a new device's
    // description first, then each button that changed, the valuators when
    // one did, the tracker's pose, and a warning when the line was lost or
    // is back.
    void change(const PublishedRecord& record, std::string& out);
    // What a client hears once its cookie was right: every sender and type
    // this server has, then each device's buttons, valuators, poses and, for
    // a lost line, the warning.
    void greeting(std::string& out) const;
    // The answer to a ping for `name`: a pong and the buttons' states, as a
    // button server answers; false for a device this host does not have.
    bool answerPing(const std::string& name, std::string& out) const;

    // False for a record of an entry that no change has brought yet (a
    // tracker's first pose, written before its device ran).
    bool known(const PublishedRecord& record) const;

    std::size_t size() const { return devices_.size(); }
    // Records of devices past the names it can hold, which no client hears.
    std::uint64_t unnamed() const { return unnamed_; }

private:
    struct Device {
        std::string name;
        std::int32_t sender = 0;
        bool controller = false;  // a controller record came
        vrpn::Stamp controllerTime;
        std::vector<std::int32_t> buttons;
        std::vector<double> valuators;
        std::map<std::uint32_t, PublishedRecord> trackers;  // by entry
        bool lost = false;
        vrpn::Stamp lostTime;
    };
    std::vector<Device> devices_;
    std::uint64_t unnamed_ = 0;

    Device* find(const std::string& name);
    const Device* find(const std::string& name) const;
    Device* add(const std::string& name, std::string* describeTo);
    static void states(const Device& d, std::string& out);
    static void analog(const Device& d, std::string& out);
    static void pose(const Device& d, const PublishedRecord& r, std::string& out);
    static void lineText(const Device& d, std::string& out);
};

}  // namespace host
