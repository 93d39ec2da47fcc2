#include "VrpnDevices.h"

#include "VrpnPose.h"

#include <algorithm>
#include <iterator>

namespace host {

namespace {

// This server's type ids, the same for every client.
enum Type : std::int32_t { kButtonChangeId, kButtonStatesId, kAnalogId, kTrackerId, kTextId, kPingId, kPongId };
const char* const kTypeNames[] = {vrpn::kButtonChange, vrpn::kButtonStates, vrpn::kAnalogChannel, vrpn::kTrackerPosQuat,
                                  vrpn::kTextMessage,  vrpn::kPing,         vrpn::kPong};

// More names than a host has devices: a mirror may follow a few hosts in turn.
constexpr std::size_t kMaxNames = 64;

vrpn::Stamp stampOf(std::int32_t sec, std::int32_t usec) { return {quorlix_net_i32(sec), quorlix_net_i32(usec)}; }

}  // namespace

VrpnDevices::VrpnDevices(const std::vector<std::string>& names) {
    for (const std::string& n : names)
        if (find(n) == nullptr) add(n, nullptr);
}

VrpnDevices::Device* VrpnDevices::find(const std::string& name) {
    for (Device& d : devices_)
        if (d.name == name) return &d;
    return nullptr;
}

const VrpnDevices::Device* VrpnDevices::find(const std::string& name) const {
    for (const Device& d : devices_)
        if (d.name == name) return &d;
    return nullptr;
}

VrpnDevices::Device* VrpnDevices::add(const std::string& name, std::string* describeTo) {
    if (devices_.size() >= kMaxNames || name.empty() || name.size() >= vrpn::kMaxName) return nullptr;
    Device d;
    d.name = name;
    d.sender = static_cast<std::int32_t>(devices_.size());
    devices_.push_back(d);
    if (describeTo != nullptr) vrpn::appendDescription(*describeTo, vrpn::kSenderDescription, d.sender, name, vrpn::stampNow());
    return &devices_.back();
}

void VrpnDevices::states(const Device& d, std::string& out) {
    std::string payload;
    vrpn::putI32(payload, static_cast<std::int32_t>(d.buttons.size()));
    for (std::int32_t b : d.buttons) vrpn::putI32(payload, b);
    vrpn::appendMessage(out, d.sender, kButtonStatesId, d.controllerTime, payload);
}

void VrpnDevices::analog(const Device& d, std::string& out) {
    std::string payload;
    vrpn::putF64(payload, static_cast<double>(d.valuators.size()));
    for (double v : d.valuators) vrpn::putF64(payload, v);
    vrpn::appendMessage(out, d.sender, kAnalogId, d.controllerTime, payload);
}

void VrpnDevices::pose(const Device& d, const PublishedRecord& r, std::string& out) {
    const VrpnPose p = vrpnPose(r.tra);
    // Each device's trackers are its sensors 0, 1, ... in the order of their entries.
    const std::int32_t sensor = static_cast<std::int32_t>(std::distance(d.trackers.begin(), d.trackers.find(r.entry)));
    std::string payload;
    vrpn::putI32(payload, sensor);
    vrpn::putI32(payload, sensor);  // room, so that the doubles fall on 8 bytes
    for (double v : p.position) vrpn::putF64(payload, v);
    for (double v : p.quaternion) vrpn::putF64(payload, v);
    vrpn::appendMessage(out, d.sender, kTrackerId, stampOf(r.tra.time_sec, r.tra.time_usec), payload);
}

void VrpnDevices::lineText(const Device& d, std::string& out) {
    const std::string text = d.lost ? "line lost: its buttons are released and its valuators 0 until it is back"
                                    : "line back: its records come again";
    std::string payload;
    vrpn::putU32(payload, d.lost ? vrpn::kTextWarning : vrpn::kTextNormal);
    vrpn::putU32(payload, 0);
    payload += text;
    payload.append(vrpn::kMaxText - text.size(), '\0');
    vrpn::appendMessage(out, d.sender, kTextId, d.lostTime, payload);
}

void VrpnDevices::change(const PublishedRecord& r, std::string& out) {
    Device* d = find(r.device);
    if (d == nullptr) d = add(r.device, &out);
    if (d == nullptr) {
        ++unnamed_;
        return;
    }
    if (r.kind == ChangeEvent::Kind::controller) {
        const vrpn::Stamp time = stampOf(r.con.time_sec, r.con.time_usec);
        const std::uint32_t buttons = std::min<std::uint32_t>(quorlix_net_u32(r.con.button_count), 32);
        const std::uint32_t valuators = std::min<std::uint32_t>(quorlix_net_u32(r.con.valuator_count), 32);
        std::vector<std::int32_t> pressed(buttons);
        for (std::uint32_t b = 0; b < buttons; ++b) pressed[b] = quorlix_con_button(&r.con, b + 1);
        std::vector<double> values(valuators);
        for (std::uint32_t v = 0; v < valuators; ++v) values[v] = quorlix_net_i32(r.con.valuators[v]) / 1000.0;
        const bool first = !d->controller || pressed.size() != d->buttons.size();
        const bool valuatorsChanged = first || values != d->valuators;
        std::vector<std::int32_t> before = d->buttons;
        d->controller = true;
        d->controllerTime = time;
        d->buttons = pressed;
        d->valuators = values;
        if (first) {
            states(*d, out);
        } else {
            for (std::size_t b = 0; b < pressed.size(); ++b) {
                if (pressed[b] == before[b]) continue;
                std::string payload;
                vrpn::putI32(payload, static_cast<std::int32_t>(b));
                vrpn::putI32(payload, pressed[b]);
                vrpn::appendMessage(out, d->sender, kButtonChangeId, time, payload);
            }
        }
        if (valuatorsChanged) analog(*d, out);
    } else {
        d->trackers[r.entry] = r;
        pose(*d, r, out);
    }
    if (r.lost != d->lost) {
        d->lost = r.lost;
        d->lostTime = r.kind == ChangeEvent::Kind::controller ? stampOf(r.con.time_sec, r.con.time_usec)
                                                              : stampOf(r.tra.time_sec, r.tra.time_usec);
        lineText(*d, out);
    }
}

void VrpnDevices::greeting(std::string& out) const {
    const vrpn::Stamp now = vrpn::stampNow();
    for (const Device& d : devices_) vrpn::appendDescription(out, vrpn::kSenderDescription, d.sender, d.name, now);
    for (std::int32_t t = 0; t < static_cast<std::int32_t>(sizeof kTypeNames / sizeof kTypeNames[0]); ++t)
        vrpn::appendDescription(out, vrpn::kTypeDescription, t, kTypeNames[t], now);
    for (const Device& d : devices_) {
        if (d.controller) {
            states(d, out);
            analog(d, out);
        }
        for (const auto& t : d.trackers) pose(d, t.second, out);
        if (d.lost) lineText(d, out);
    }
}

bool VrpnDevices::known(const PublishedRecord& r) const {
    const Device* d = find(r.device);
    if (d == nullptr) return false;
    return r.kind == ChangeEvent::Kind::controller ? d->controller : d->trackers.count(r.entry) != 0;
}

bool VrpnDevices::answerPing(const std::string& name, std::string& out) const {
    const Device* d = find(name);
    if (d == nullptr) return false;
    vrpn::appendMessage(out, d->sender, kPongId, vrpn::stampNow(), "");
    if (d->controller) states(*d, out);
    return true;
}

}  // namespace host
