#include "VrpnReader.h"

#include "VrpnWire.h"

#include <cstring>

namespace host {

namespace {

// Ids a stock peer accepts; a description of another is not VRPN.
constexpr std::int32_t kMaxId = 2000;

}  // namespace

void VrpnReader::add(const unsigned char* bytes, std::size_t size) {
    if (!fault_.empty()) return;
    if (used_ > 0 && used_ >= buffer_.size() / 2) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(used_));
        used_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes, bytes + size);
}

VrpnReader::Step VrpnReader::failed(const std::string& why) {
    fault_ = why;
    buffer_.clear();
    used_ = 0;
    return Step::fault;
}

bool VrpnReader::describedName(const unsigned char* payload, std::size_t size, std::string& name) {
    if (size < 4) {
        failed("sent a description without a name");
        return false;
    }
    const std::uint32_t length = vrpn::getU32(payload);
    if (length == 0 || length > vrpn::kMaxName || length > size - 4) {
        failed("sent a description with a name of " + std::to_string(length) + " bytes");
        return false;
    }
    const char* text = reinterpret_cast<const char*>(payload + 4);
    name.assign(text, strnlen(text, length));
    return true;
}

VrpnReader::Step VrpnReader::next() {
    if (!fault_.empty()) return Step::fault;
    if (!greeted_) {
        if (available() < vrpn::kCookieSize) return Step::more;
        const std::string problem = vrpn::cookieProblem(buffer_.data() + used_);
        if (!problem.empty()) return failed("sent " + problem);
        used_ += vrpn::kCookieSize;
        greeted_ = true;
        return Step::greeted;
    }
    for (;;) {
        if (available() < vrpn::kHeaderSize) return Step::more;
        const unsigned char* head = buffer_.data() + used_;
        const std::uint32_t length = vrpn::getU32(head);
        if (length < vrpn::kHeaderSize || length > vrpn::kMaxMessage)
            return failed("sent a message of " + std::to_string(length) + " bytes (VRPN's are 24 to " +
                          std::to_string(vrpn::kMaxMessage) + ")");
        const std::size_t payloadSize = length - vrpn::kHeaderSize;
        const std::size_t whole = vrpn::kHeaderSize + vrpn::padded(payloadSize);
        if (available() < whole) return Step::more;
        used_ += whole;
        const std::int32_t sender = static_cast<std::int32_t>(vrpn::getU32(head + 12));
        const std::int32_t type = static_cast<std::int32_t>(vrpn::getU32(head + 16));
        const unsigned char* payload = head + vrpn::kHeaderSize;

        if (type == vrpn::kSenderDescription || type == vrpn::kTypeDescription) {
            // The id described travels in the sender field.
            if (sender < 0 || sender >= kMaxId)
                return failed("described id " + std::to_string(sender) + " (VRPN's are 0 to " +
                              std::to_string(kMaxId - 1) + ")");
            std::string name;
            if (!describedName(payload, payloadSize, name)) return Step::fault;
            (type == vrpn::kSenderDescription ? senders_ : types_)[sender] = name;
            continue;
        }
        if (type == vrpn::kDisconnect) return Step::disconnect;
        if (type < 0) continue;  // its UDP port, log wishes: all goes over TCP here, nothing is logged
        const auto named = types_.find(type);
        if (named == types_.end() || named->second != vrpn::kPing) continue;
        const auto who = senders_.find(sender);
        if (who == senders_.end()) continue;
        sender_ = who->second;
        return Step::ping;
    }
}

}  // namespace host
