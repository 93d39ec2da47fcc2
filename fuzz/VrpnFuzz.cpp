// Whatever a VRPN client may send the host, in pieces of any size, read
// through the server's reader and answered by its devices: a fault stays a
// fault, a ping names a sender the client described, and every answer is
// whole messages.
//
// Input: pieces, each as one byte of length then that many bytes.
#include "VrpnDevices.h"
#include "VrpnReader.h"
#include "VrpnWire.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Stops the run with the input kept: the invariant did not hold.
void require(bool holds) {
    if (!holds) std::abort();
}

// The answer is messages of 24 bytes and more, each padded to 8.
void requireWhole(const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        require(bytes.size() - at >= host::vrpn::kHeaderSize);
        const std::uint32_t length = host::vrpn::getU32(reinterpret_cast<const unsigned char*>(bytes.data() + at));
        require(length >= host::vrpn::kHeaderSize);
        at += host::vrpn::kHeaderSize + host::vrpn::padded(length - host::vrpn::kHeaderSize);
    }
    require(at == bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static host::VrpnDevices* devices = [] {
        auto* d = new host::VrpnDevices({"wand", "glove"});
        host::PublishedRecord r;
        std::strcpy(r.device, "wand");
        r.entry = 1;
        std::string ignored;
        d->change(r, ignored);
        return d;
    }();
    host::VrpnReader reader;
    bool faulted = false;
    for (std::size_t at = 0; at < size;) {
        const std::size_t taken = std::min<std::size_t>(data[at], size - at - 1);
        reader.add(data + at + 1, taken);
        at += 1 + taken;
        for (;;) {
            const host::VrpnReader::Step step = reader.next();
            if (faulted) require(step == host::VrpnReader::Step::fault);
            if (step == host::VrpnReader::Step::more) break;
            if (step == host::VrpnReader::Step::fault) {
                require(!reader.fault().empty());
                faulted = true;
                break;
            }
            if (step == host::VrpnReader::Step::ping) {
                require(reader.greeted() && reader.sender().size() < host::vrpn::kMaxName);
                std::string answer;
                if (devices->answerPing(reader.sender(), answer)) requireWhole(answer);
                else require(answer.empty());
            }
        }
    }
    return 0;
}
