#include "VrpnWire.h"

#include <cstring>

#include <sys/time.h>

namespace host {
namespace vrpn {

Stamp stampNow() {
    timeval now{};
    gettimeofday(&now, nullptr);
    return {static_cast<std::int32_t>(now.tv_sec), static_cast<std::int32_t>(now.tv_usec)};
}

void putU32(std::string& out, std::uint32_t value) {
    const char bytes[4] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
                           static_cast<char>(value)};
    out.append(bytes, 4);
}

void putF64(std::string& out, double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    putU32(out, static_cast<std::uint32_t>(bits >> 32));
    putU32(out, static_cast<std::uint32_t>(bits));
}

std::uint32_t getU32(const unsigned char* at) {
    return (std::uint32_t{at[0]} << 24) | (std::uint32_t{at[1]} << 16) | (std::uint32_t{at[2]} << 8) | at[3];
}

double getF64(const unsigned char* at) {
    const std::uint64_t bits = (std::uint64_t{getU32(at)} << 32) | getU32(at + 4);
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void appendMessage(std::string& out, std::int32_t sender, std::int32_t type, Stamp time, const std::string& payload) {
    // The length counts the padded header and the payload, not the payload's
    // padding: the reader works that out. The sixth word is a sequence
    // number only sniffers read; 0 here.
    putU32(out, static_cast<std::uint32_t>(kHeaderSize + payload.size()));
    putI32(out, time.sec);
    putI32(out, time.usec);
    putI32(out, sender);
    putI32(out, type);
    putU32(out, 0);
    out += payload;
    out.append(padded(payload.size()) - payload.size(), '\0');
}

void appendDescription(std::string& out, std::int32_t kind, std::int32_t id, const std::string& name, Stamp time) {
    std::string payload;
    putU32(payload, static_cast<std::uint32_t>(name.size() + 1));
    payload += name;
    payload += '\0';
    appendMessage(out, id, kind, time, payload);
}

std::string cookie() {
    std::string c = std::string(kMagic) + "  0";
    c.resize(kCookieSize, '\0');
    return c;
}

std::string cookieProblem(const unsigned char* bytes) {
    // Everything up to the last '.' of the magic is the major version; the
    // minor version may differ. The log mode is a digit from 0 to 3.
    const char* magic = kMagic;
    const std::size_t major = std::strrchr(magic, '.') - magic + 1;
    if (std::memcmp(bytes, magic, major) != 0) return "not a VRPN 07 cookie";
    const unsigned char mode = bytes[kMagicLength + 2];
    if (mode < '0' || mode > '3') return "a cookie with an unknown log mode";
    return "";
}

}  // namespace vrpn
}  // namespace host
