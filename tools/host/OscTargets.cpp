#include "OscTargets.h"

#include <cstdlib>
#include <cstring>

namespace host {

OscTargets::~OscTargets() {
    for (Target& t : targets_) lo_address_free(t.address);
}

namespace {

// The address of a usable URL, else null with `error` set.
lo_address openAddress(const std::string& url, std::string& error) {
    const std::string example = " (for example osc.udp://render1:7770/ or osc.udp://239.255.42.1:7770/)";
    if (url.compare(0, 10, "osc.udp://") != 0) {
        error = url + ": not an OSC URL over UDP" + example;
        return nullptr;
    }
    lo_address address = lo_address_new_from_url(url.c_str());
    const char* hostName = address != nullptr ? lo_address_get_hostname(address) : nullptr;
    const char* port = address != nullptr ? lo_address_get_port(address) : nullptr;
    const long number = port != nullptr ? std::strtol(port, nullptr, 10) : 0;
    if (address == nullptr || hostName == nullptr || *hostName == '\0' || port == nullptr ||
        std::strspn(port, "0123456789") != std::strlen(port) || number < 1 || number > 65535) {
        if (address != nullptr) lo_address_free(address);
        error = url + ": needs a host and a port (1 to 65535)" + example;
        return nullptr;
    }
    return address;
}

}  // namespace

std::string OscTargets::check(const std::string& url) {
    std::string error;
    lo_address address = openAddress(url, error);
    if (address != nullptr) lo_address_free(address);
    return error;
}

bool OscTargets::add(const std::string& url, int ttl, std::string& error) {
    lo_address address = openAddress(url, error);
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
