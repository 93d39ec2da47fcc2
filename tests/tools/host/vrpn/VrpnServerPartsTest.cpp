// The VRPN server's parts on their own: poses, what clients send, and the
// messages changes make.
#include "VrpnDevices.h"
#include "VrpnPose.h"
#include "VrpnReader.h"
#include "VrpnTestClient.h"
#include "VrpnWire.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>

#include <arpa/inet.h>

namespace {

using host::VrpnReader;
using Step = VrpnReader::Step;

using Vec = std::array<double, 3>;

// v turned by a rotation of `degrees` about unit `axis`, counter-clockwise
// seen from its tip (Rodrigues).
Vec turned(const Vec& v, const Vec& axis, double degrees) {
    const double t = degrees * M_PI / 180, c = std::cos(t), s = std::sin(t);
    const double dot = axis[0] * v[0] + axis[1] * v[1] + axis[2] * v[2];
    const Vec cross = {axis[1] * v[2] - axis[2] * v[1], axis[2] * v[0] - axis[0] * v[2], axis[0] * v[1] - axis[1] * v[0]};
    Vec r{};
    for (int i = 0; i < 3; ++i) r[i] = v[i] * c + cross[i] * s + axis[i] * dot * (1 - c);
    return r;
}

// v turned by the quaternion (x, y, z, w).
Vec byQuaternion(const Vec& v, const double* q) {
    const Vec u = {q[0], q[1], q[2]};
    const double w = q[3];
    const Vec t = {2 * (u[1] * v[2] - u[2] * v[1]), 2 * (u[2] * v[0] - u[0] * v[2]), 2 * (u[0] * v[1] - u[1] * v[0])};
    const Vec ut = {u[1] * t[2] - u[2] * t[1], u[2] * t[0] - u[0] * t[2], u[0] * t[1] - u[1] * t[0]};
    return {v[0] + w * t[0] + ut[0], v[1] + w * t[1] + ut[1], v[2] + w * t[2] + ut[2]};
}

std::int32_t stored(double value) { return static_cast<std::int32_t>(htonl(static_cast<std::uint32_t>(std::lround(value * 100000)))); }

TEST(VrpnPose, RollThenElevationThenAzimuthInMetres) {
    struct Case {
        double azim, elev, roll;
    };
    for (const Case& c : {Case{0, 0, 0}, Case{90, 0, 0}, Case{0, 90, 0}, Case{0, 0, 90}, Case{90, 30, 0},
                          Case{-45, 20, 170}, Case{180, -60, -30}, Case{359, 89, 1}}) {
        SCOPED_TRACE(std::to_string(c.azim) + " " + std::to_string(c.elev) + " " + std::to_string(c.roll));
        quorlix_tra_data r{};
        r.x = stored(1);
        r.y = stored(-2.5);
        r.z = stored(10);
        r.azim = stored(c.azim);
        r.elev = stored(c.elev);
        r.roll = stored(c.roll);
        const host::VrpnPose p = host::vrpnPose(r);
        EXPECT_NEAR(p.position[0], 0.3048, 1e-9);
        EXPECT_NEAR(p.position[1], -0.762, 1e-9);
        EXPECT_NEAR(p.position[2], 3.048, 1e-9);
        EXPECT_GE(p.quaternion[3], 0.0);
        for (const Vec& v : {Vec{1, 0, 0}, Vec{0, 1, 0}, Vec{0, 0, 1}}) {
            const Vec want = turned(turned(turned(v, {0, 0, 1}, c.roll), {1, 0, 0}, c.elev), {0, 1, 0}, c.azim);
            const Vec got = byQuaternion(v, p.quaternion);
            for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], 1e-9);
        }
    }
}

std::string message(std::int32_t sender, std::int32_t type, const std::string& payload) {
    std::string out;
    host::vrpn::appendMessage(out, sender, type, {1, 2}, payload);
    return out;
}

std::string description(std::int32_t kind, std::int32_t id, const std::string& name) {
    std::string out;
    host::vrpn::appendDescription(out, kind, id, name, {1, 2});
    return out;
}

// Steps of `bytes` fed whole, or a byte at a time.
std::vector<Step> steps(const std::string& bytes, bool byteWise, VrpnReader& reader) {
    std::vector<Step> out;
    auto drain = [&] {
        for (Step s = reader.next(); s != Step::more; s = reader.next()) {
            out.push_back(s);
            if (s == Step::fault) return false;
        }
        return true;
    };
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (!byteWise) {
        reader.add(data, bytes.size());
        drain();
        return out;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        reader.add(data + i, 1);
        if (!drain()) break;
    }
    return out;
}

TEST(VrpnReader, TakesClientsApartHoweverTheirBytesArrive) {
    const std::string cookie = VrpnTestClient::cookieText();
    const std::string described = description(-1, 7, "wand") + description(-2, 3, "vrpn_Base ping_message") +
                                  description(-2, 4, "vrpn_Base pong_message");
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<Step> want;
        const char* fault;
    };
    std::string minor = cookie;
    minor.replace(14, 2, "10");
    std::string logMode = cookie;
    logMode[18] = '7';
    const std::vector<Case> cases = {
        {"a ping by name", cookie + described + message(7, 3, ""), {Step::greeted, Step::ping}, ""},
        {"another minor version", minor + described + message(7, 3, ""), {Step::greeted, Step::ping}, ""},
        {"a ping before its names", cookie + message(7, 3, "") + described, {Step::greeted}, ""},
        {"other messages, UDP port, log wishes",
         cookie + described + message(7, 4, "x") + message(1234, -3, std::string("127.0.0.1\0", 10)) +
             message(0, -4, std::string(16, '\0')) + message(7, 3, ""),
         {Step::greeted, Step::ping},
         ""},
        {"a goodbye", cookie + message(0, -5, ""), {Step::greeted, Step::disconnect}, ""},
        {"no cookie", std::string(24, 'x'), {Step::fault}, "not a VRPN 07 cookie"},
        {"an unknown log mode", logMode, {Step::fault}, "unknown log mode"},
        {"a short length", cookie + VrpnTestClient::u32(8) + std::string(20, '\0'), {Step::greeted, Step::fault},
         "a message of 8 bytes"},
        {"an id no peer has", cookie + description(-1, 2000, "wand"), {Step::greeted, Step::fault}, "described id 2000"},
        {"an empty name", cookie + message(1, -2, VrpnTestClient::u32(0)), {Step::greeted, Step::fault},
         "a name of 0 bytes"},
        {"a description without a name", cookie + message(1, -1, "ab"), {Step::greeted, Step::fault},
         "a description without a name"},
    };
    for (const Case& c : cases) {
        for (bool byteWise : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (byteWise ? ", a byte at a time" : ", at once"));
            VrpnReader reader;
            EXPECT_EQ(steps(c.bytes, byteWise, reader), c.want);
            EXPECT_NE(reader.fault().find(c.fault), std::string::npos) << reader.fault();
            if (!c.want.empty() && c.want.back() == Step::ping) {
                EXPECT_EQ(reader.sender(), "wand");
            }
        }
    }
}

// The messages of `bytes`, as the tests' client reads them.
struct Parsed {
    std::int32_t sender, type;
    std::string payload;
};
std::vector<Parsed> parse(const std::string& bytes) {
    std::vector<Parsed> out;
    for (std::size_t at = 0; at + 24 <= bytes.size();) {
        const auto* b = reinterpret_cast<const unsigned char*>(bytes.data() + at);
        const std::uint32_t length = host::vrpn::getU32(b);
        out.push_back({static_cast<std::int32_t>(host::vrpn::getU32(b + 12)),
                       static_cast<std::int32_t>(host::vrpn::getU32(b + 16)), bytes.substr(at + 24, length - 24)});
        at += 24 + host::vrpn::padded(length - 24);
    }
    return out;
}

host::PublishedRecord controller(const char* device, std::uint8_t buttons, std::int32_t valuator, bool lost = false) {
    host::PublishedRecord r;
    std::strncpy(r.device, device, sizeof r.device - 1);
    r.entry = 1;
    r.lost = lost;
    r.con.valuator_count = htonl(2);
    r.con.button_count = htonl(11);
    r.con.button_bytes = 4;
    r.con.buttons[0] = buttons;
    r.con.valuators[0] = static_cast<std::int32_t>(htonl(static_cast<std::uint32_t>(valuator)));
    return r;
}

host::PublishedRecord tracker(const char* device, std::uint32_t entry) {
    host::PublishedRecord r;
    std::strncpy(r.device, device, sizeof r.device - 1);
    r.kind = host::ChangeEvent::Kind::tracker;
    r.entry = entry;
    return r;
}

TEST(VrpnDevices, ChangesMakeOnlyTheMessagesTheyNeed) {
    host::VrpnDevices devices({"wand"});
    struct Case {
        const char* what;
        host::PublishedRecord record;
        std::vector<std::int32_t> types;  // -1 description, then the server's type ids
    };
    // Type ids: 0 change, 1 states, 2 analog, 3 tracker, 4 text.
    const std::vector<Case> cases = {
        {"the first record: every button's state and the valuators", controller("wand", 0x01, 0), {1, 2}},
        {"the same again: nothing", controller("wand", 0x01, 0), {}},
        {"two buttons change", controller("wand", 0x06, 0), {0, 0, 0}},
        {"a valuator moves", controller("wand", 0x06, 500), {2}},
        {"the line is lost", controller("wand", 0x00, 0, true), {0, 0, 2, 4}},
        {"and back", controller("wand", 0x00, 0), {4}},
        {"a device not configured", controller("glove", 0x00, 0), {-1, 1, 2}},
        {"a tracker", tracker("glove", 3), {3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string out;
        devices.change(c.record, out);
        std::vector<std::int32_t> types;
        for (const Parsed& m : parse(out)) types.push_back(m.type < 0 ? -1 : m.type);
        EXPECT_EQ(types, c.types);
    }
    EXPECT_EQ(devices.size(), 2u);
    // Each device's trackers are its sensors from 0, whatever their entries.
    for (std::uint32_t entry : {3u, 5u}) {
        std::string out;
        devices.change(tracker("glove", entry), out);
        const std::vector<Parsed> sent = parse(out);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(host::vrpn::getU32(reinterpret_cast<const unsigned char*>(sent[0].payload.data())), entry == 3 ? 0u : 1u);
    }
    std::string pong;
    EXPECT_TRUE(devices.answerPing("glove", pong));
    EXPECT_FALSE(devices.answerPing("Tracker0", pong));
}

}  // namespace
