// outputs/vrpn/: the wand for VRPN clients: buttons, analogs and trackers over VRPN's own protocol.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace host {

// What one VRPN client sends, taken apart as it arrives: its cookie, then
// messages. It keeps the names the client gave its senders and types, so
// that a ping is known by name; whatever else a client may send (its UDP
// port, log wishes, messages for devices) is read and passed over. Anything
// that cannot be VRPN is a fault, and nothing after it is read.
class VrpnReader {
public:
    enum class Step {
        more,        // nothing whole yet
        greeted,     // the client's cookie was right
        ping,        // a ping for the device `sender()`
        disconnect,  // the client says it goes
        fault,       // see fault()
    };

    // Bytes as they came, in order.
    void add(const unsigned char* bytes, std::size_t size);
    // The next thing the bytes so far hold.
    Step next();

    const std::string& sender() const { return sender_; }
    const std::string& fault() const { return fault_; }
    bool greeted() const { return greeted_; }

private:
    std::vector<unsigned char> buffer_;
    std::size_t used_ = 0;  // bytes of buffer_ already read
    bool greeted_ = false;
    std::string sender_;
    std::string fault_;
    // The client's ids, as its descriptions named them.
    std::unordered_map<std::int32_t, std::string> senders_;
    std::unordered_map<std::int32_t, std::string> types_;

    Step failed(const std::string& why);
    // A description's name; false (fault set) when it is malformed.
    bool describedName(const unsigned char* payload, std::size_t size, std::string& name);
    std::size_t available() const { return buffer_.size() - used_; }
};

}  // namespace host
