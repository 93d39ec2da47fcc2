#include "WandHost.h"

#include "storage/ByteOrder.h"

#include <poll.h>
#include <sys/ioctl.h>

#include <stdexcept>

WandHost::WandHost(std::int32_t debugLevel) : logger(quietLogger("HOST", debugLevel)) {
    info = storages.initInfo(&runFlag);
}

WandHost::~WandHost() {
    if (device != nullptr) deleteDev(device);
}

WandHost& WandHost::withPortAnd(const std::vector<std::string>& lines) {
    options.line(nextLine_++, "port " + line.name());
    for (const std::string& text : lines) options.line(nextLine_++, text);
    return *this;
}

std::int32_t WandHost::start() {
    device = createDev(options.list(), &logger);
    return device != nullptr ? device->init(&info) : -1;
}

void WandHost::send(const std::vector<std::uint8_t>& bytes) {
    if (!line.send(bytes.data(), bytes.size())) throw std::runtime_error("the far end could not send");
}

int WandHost::pending() const {
    // The line discipline takes sent bytes in asynchronously: wait for them.
    pollfd ready{line.line(), POLLIN, 0};
    ::poll(&ready, 1, 500);
    int count = 0;
    ::ioctl(line.line(), FIONREAD, &count);
    return count;
}

std::int32_t WandHost::recv() { return device->recvData(masks, 0); }

bool WandHost::button(std::uint32_t entry, std::uint32_t b) const {
    const ConData& record = conEntry(entry);
    return ((record.buttons[(b - 1) / 8] >> ((b - 1) % 8)) & 1) != 0;
}

std::int32_t WandHost::valuator(std::uint32_t entry, std::uint32_t v) const {
    return netToHostSigned(conEntry(entry).valuators[v - 1]);
}

bool WandHost::masksClear() const {
    for (std::uint8_t byte : masks) {
        if (byte != 0) return false;
    }
    return true;
}

bool WandHost::bitOf(const std::uint8_t* mask, std::uint32_t n) {
    return ((mask[3 - (n - 1) / 8] >> ((n - 1) % 8)) & 1) != 0;
}

std::vector<std::uint8_t> keyRecord(const std::vector<std::uint8_t>& body, std::uint8_t header) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(body.size() + 2);
    bytes.push_back(header);
    for (std::uint8_t byte : body) bytes.push_back(byte);
    bytes.push_back(0x8F);
    return bytes;
}

std::set<int> pressed(const WandHost& host, std::uint32_t entry) {
    std::set<int> result;
    for (std::uint32_t b = 1; b <= 32; ++b) {
        if (host.button(entry, b)) result.insert(static_cast<int>(b));
    }
    return result;
}
