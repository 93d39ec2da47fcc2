#include "OscTargets.h"

#include "OscUrl.h"

namespace host {

OscTargets::~OscTargets() {
    for (Target& t : targets_) lo_address_free(t.address);
}

bool OscTargets::add(const std::string& url, int ttl, std::string& error) {
    lo_address address = openOscAddress(url, error);
    if (address == nullptr) return false;
    if (ttl > 0) lo_address_set_ttl(address, ttl);
    targets_.push_back({url, address});
    return true;
}

std::size_t OscTargets::send(lo_bundle bundle) {
    std::size_t failed = 0;
    for (Target& t : targets_) {
        if (lo_send_bundle(t.address, bundle) >= 0) continue;
        ++failed;
        failures_.fetch_add(1, std::memory_order_relaxed);
        const char* why = lo_address_errstr(t.address);
        std::lock_guard<std::mutex> lock(failureMutex_);
        lastFailure_ = t.url + ": " + (why != nullptr && *why != '\0' ? why : "send failed");
    }
    return failed;
}

std::string OscTargets::lastFailure() const {
    std::lock_guard<std::mutex> lock(failureMutex_);
    return lastFailure_;
}

std::string OscTargets::names() const {
    std::string text;
    for (const Target& t : targets_) text += (text.empty() ? "" : ", ") + t.url;
    return text;
}

}  // namespace host
