#include "MirrorDatagram.h"

#include "OscAddressSpace.h"

#include <lo/lo.h>

#include <cstring>
#include <memory>

namespace host {

namespace {

// Bundles within bundles, as deep as anyone sends them.
constexpr int kDeepestBundle = 4;

// liblo's arguments lie at 4-byte boundaries, less than its union promises:
// read them as bytes.
std::int32_t intArg(const lo_arg* arg) {
    std::int32_t value;
    std::memcpy(&value, arg, sizeof value);
    return value;
}

std::uint32_t bigEndian32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

bool isBundle(const unsigned char* data, std::size_t size) {
    return size >= 8 && std::memcmp(data, "#bundle", 8) == 0;
}

// Type tags of `prefix` followed by any number of `each`.
bool typesAre(const char* types, const char* prefix, char each) {
    const std::size_t n = std::strlen(prefix);
    if (std::strncmp(types, prefix, n) != 0) return false;
    for (const char* t = types + n; *t != '\0'; ++t)
        if (*t != each) return false;
    return true;
}

// A sender's text for the log: printable ASCII only, and not much of it.
std::string shown(const char* text) {
    std::string out = "\"";
    for (const char* c = text; *c != '\0'; ++c) {
        if (out.size() > 48) return out + "...\"";
        out += (*c >= 0x20 && *c < 0x7f && *c != '"' && *c != '\\') ? *c : '?';
    }
    return out + "\"";
}

struct MessageFree {
    void operator()(void* m) const { lo_message_free(static_cast<lo_message>(m)); }
};

std::string readRecord(const char* path, lo_arg** argv, MirrorMessage& m) {
    const bool controller = std::strcmp(path, osc::kControllerRecord) == 0;
    m.kind = controller ? MirrorMessage::Kind::controller : MirrorMessage::Kind::tracker;
    const char* device = &argv[0]->s;
    const std::size_t length = std::strlen(device);
    const std::int32_t entry = intArg(argv[1]);
    m.sequence = static_cast<std::uint32_t>(intArg(argv[2]));
    lo_blob blob = reinterpret_cast<lo_blob>(argv[3]);
    const std::int32_t lost = intArg(argv[4]);
    const std::uint32_t expected = controller ? sizeof(quorlix_con_data) : sizeof(quorlix_tra_data);
    if (lo_blob_datasize(blob) != expected) return "a record of the wrong size";
    if (entry < 1 || entry > QUORLIX_SHM_ENTRIES) return "an entry out of range";
    if (length == 0 || length >= sizeof m.device) return "a device name empty or too long";
    if (lost != 0 && lost != 1) return "a lost mark other than 0 or 1";
    m.entry = static_cast<std::uint32_t>(entry);
    std::memcpy(m.device, device, length);
    m.lost = lost != 0;
    std::memcpy(&m.record, lo_blob_dataptr(blob), expected);
    return "";
}

std::string readKeyframe(lo_arg** argv, MirrorMessage& m) {
    m.kind = MirrorMessage::Kind::keyframe;
    m.sequence = static_cast<std::uint32_t>(intArg(argv[0]));
    m.controllers = static_cast<std::uint32_t>(intArg(argv[1]));
    m.trackers = static_cast<std::uint32_t>(intArg(argv[2]));
    m.controllersLost = static_cast<std::uint32_t>(intArg(argv[3]));
    m.trackersLost = static_cast<std::uint32_t>(intArg(argv[4]));
    if (m.controllers > QUORLIX_SHM_ENTRIES || m.trackers > QUORLIX_SHM_ENTRIES)
        return "a keyframe counting more than 32 controllers or trackers";
    const auto beyond = [](std::uint32_t mask, std::uint32_t count) {
        return count < 32 && (mask >> count) != 0;
    };
    if (beyond(m.controllersLost, m.controllers) || beyond(m.trackersLost, m.trackers))
        return "a keyframe marking entries it does not count";
    return "";
}

// One message; the decoded values that follow a record are checked, not kept.
std::string readMessage(unsigned char* data, std::size_t size, std::vector<MirrorMessage>& out) {
    const char* path = lo_get_path(data, static_cast<ssize_t>(size));
    if (path == nullptr) return "no OSC message";
    int result = 0;
    std::unique_ptr<void, MessageFree> message(lo_message_deserialise(data, size, &result));
    if (!message) return "no OSC message";
    const lo_message m = static_cast<lo_message>(message.get());
    const char* types = lo_message_get_types(m);
    lo_arg** argv = lo_message_get_argv(m);
    if (types == nullptr) return "no OSC message";
    MirrorMessage read;
    std::string wrong;
    if (std::strcmp(path, osc::kControllerRecord) == 0 || std::strcmp(path, osc::kTrackerRecord) == 0) {
        if (std::strcmp(types, osc::kRecordTypes) != 0) return "a record with the wrong type tags";
        wrong = readRecord(path, argv, read);
    } else if (std::strcmp(path, osc::kKeyframe) == 0) {
        if (std::strcmp(types, osc::kKeyframeTypes) != 0) return "a keyframe with the wrong type tags";
        wrong = readKeyframe(argv, read);
    } else if (std::strcmp(path, osc::kGoodbye) == 0) {
        if (std::strcmp(types, osc::kGoodbyeTypes) != 0) return "a goodbye with the wrong type tags";
        read.kind = MirrorMessage::Kind::goodbye;
        read.sequence = static_cast<std::uint32_t>(intArg(argv[0]));
    } else if (std::strcmp(path, osc::kButtons) == 0) {
        return typesAre(types, "si", 'i') ? "" : "buttons with the wrong type tags";
    } else if (std::strcmp(path, osc::kValuators) == 0) {
        return typesAre(types, "si", 'f') ? "" : "valuators with the wrong type tags";
    } else if (std::strcmp(path, osc::kPose) == 0) {
        return std::strcmp(types, osc::kPoseTypes) == 0 ? "" : "a pose with the wrong type tags";
    } else {
        return "the OSC address " + shown(path) + " is not ours (patterns match nothing)";
    }
    if (!wrong.empty()) return wrong;
    out.push_back(read);
    return "";
}

std::string readElement(unsigned char* data, std::size_t size, int depth, std::vector<MirrorMessage>& out) {
    if (!isBundle(data, size)) return readMessage(data, size, out);
    if (depth >= kDeepestBundle) return "bundles nested too deep";
    if (size < 16) return "a bundle cut short";
    // The time tag is not waited for: a sender's clock may run ahead of this one.
    for (std::size_t at = 16; at < size;) {
        if (size - at < 4) return "a bundle cut short";
        const std::uint32_t length = bigEndian32(data + at);
        at += 4;
        if (length == 0 || length % 4 != 0 || length > size - at) return "a bundle element of a wrong size";
        const std::string wrong = readElement(data + at, length, depth + 1, out);
        if (!wrong.empty()) return wrong;
        at += length;
    }
    return "";
}

}  // namespace

std::string readMirrorDatagram(const void* data, std::size_t size, std::vector<MirrorMessage>& out) {
    out.clear();
    if (size == 0 || size % 4 != 0) return "no OSC datagram (its size is not a multiple of 4)";
    // liblo reads from memory it may write; the caller's bytes stay as they are.
    std::vector<unsigned char> bytes(static_cast<const unsigned char*>(data),
                                     static_cast<const unsigned char*>(data) + size);
    const std::string wrong = readElement(bytes.data(), size, 0, out);
    if (!wrong.empty()) out.clear();
    return wrong;
}

}  // namespace host
