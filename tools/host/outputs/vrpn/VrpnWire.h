// outputs/vrpn/: the wand for VRPN clients: buttons, analogs and trackers over VRPN's own protocol.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {
namespace vrpn {

// The version this server speaks; clients of the same major version (07)
// connect, a minor difference is only noted by them.
constexpr const char* kMagic = "vrpn: ver. 07.35";
constexpr std::size_t kMagicLength = 16;
// The cookie: the magic, two spaces, the log mode as a digit, zero padding.
constexpr std::size_t kCookieSize = 24;
constexpr std::size_t kAlign = 8;
// Length, seconds, microseconds, sender, type; padded to 24.
constexpr std::size_t kHeaderSize = 24;
// The longest message a stock peer reads; anything longer is not VRPN.
constexpr std::size_t kMaxMessage = 64000;
// Names of senders and types fill at most this, their terminating zero included.
constexpr std::size_t kMaxName = 100;

// System messages: negative types, never described. (-3 and -4, a peer's
// UDP port and log wishes, are read and passed over.)
constexpr std::int32_t kSenderDescription = -1;
constexpr std::int32_t kTypeDescription = -2;
constexpr std::int32_t kDisconnect = -5;

// The types this server sends, and the ones it answers.
constexpr const char* kButtonChange = "vrpn_Button Change";
constexpr const char* kButtonStates = "vrpn_Button States";
constexpr const char* kAnalogChannel = "vrpn_Analog Channel";
constexpr const char* kTrackerPosQuat = "vrpn_Tracker Pos_Quat";
constexpr const char* kTextMessage = "vrpn_Base text_message";
constexpr const char* kPing = "vrpn_Base ping_message";
constexpr const char* kPong = "vrpn_Base pong_message";

// Severity of a text message.
constexpr std::uint32_t kTextNormal = 0;
constexpr std::uint32_t kTextWarning = 1;
// A text message's text field, its terminating zero included.
constexpr std::size_t kMaxText = 1024;

// A message's time: seconds and microseconds since 1970.
struct Stamp {
    std::int32_t sec = 0;
    std::int32_t usec = 0;
};
Stamp stampNow();

inline std::size_t padded(std::size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

// Big-endian values appended to a payload.
void putU32(std::string& out, std::uint32_t value);
inline void putI32(std::string& out, std::int32_t value) { putU32(out, static_cast<std::uint32_t>(value)); }
void putF64(std::string& out, double value);
std::uint32_t getU32(const unsigned char* at);
double getF64(const unsigned char* at);

// One whole message, header and payload each padded to 8 bytes, onto `out`.
void appendMessage(std::string& out, std::int32_t sender, std::int32_t type, Stamp time, const std::string& payload);
// A sender's or a type's description: the name's length with its zero, the name, the zero.
void appendDescription(std::string& out, std::int32_t kind, std::int32_t id, const std::string& name, Stamp time);

// The cookie this server sends (log mode 0: it keeps no log for its clients).
std::string cookie();
// "" when `bytes` (kCookieSize of them) are a cookie this server talks to,
// else what is wrong with them.
std::string cookieProblem(const unsigned char* bytes);

}  // namespace vrpn
}  // namespace host
