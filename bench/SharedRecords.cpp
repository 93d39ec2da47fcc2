#include "SharedRecords.h"

#include <unistd.h>

#include <thread>

SharedRecords::~SharedRecords() { quorlix_shm_detach(shm_); }

bool SharedRecords::open(const std::string& name, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    char why[256];
    while (std::chrono::steady_clock::now() < until) {
        shm_ = quorlix_shm_attach(name.c_str(), ::getuid(), why, sizeof why);
        if (shm_ != nullptr) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

quorlix_con_data SharedRecords::controller(std::uint32_t n) {
    quorlix_shm_controller entry{};
    if (shm_ == nullptr || quorlix_shm_read_controller(shm_, n, &entry) != 0) return quorlix_con_data{};
    return entry.record;
}

std::uint32_t SharedRecords::controllerRewrites(std::uint32_t n) {
    quorlix_shm_controller entry{};
    if (shm_ == nullptr || quorlix_shm_read_controller(shm_, n, &entry) != 0) return 0;
    return entry.head.changes;
}

bool SharedRecords::waitForController(std::uint32_t n, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (quorlix_net_u32(controller(n).valuator_count) == 0) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::uint32_t buttonBits(const quorlix_con_data& record) {
    std::uint32_t bits = 0;
    for (std::uint32_t n = 1; n <= 32; ++n) {
        if (quorlix_con_button(&record, n) != 0) bits |= 1u << (n - 1);
    }
    return bits;
}
