#pragma once

#include "quorlix/shm.h"

#include <chrono>
#include <cstdint>
#include <string>

// The records a running quorlix-host keeps in its shared memory (--shm NAME),
// read the way any other program on the machine would: map read-only, copy each
// entry whole under its sequence counter.
class SharedRecords {
public:
    SharedRecords() = default;
    ~SharedRecords();
    SharedRecords(const SharedRecords&) = delete;
    SharedRecords& operator=(const SharedRecords&) = delete;

    // Waits at most `timeout` for the host to create the object and set it up.
    bool open(const std::string& name, std::chrono::milliseconds timeout);

    // Controller entry n (1..32), a consistent copy.
    quorlix_con_data controller(std::uint32_t n);
    // How often the host saw entry n rewritten.
    std::uint32_t controllerRewrites(std::uint32_t n);
    // Waits at most `timeout` for entry n to be published the first time.
    bool waitForController(std::uint32_t n, std::chrono::milliseconds timeout);

private:
    quorlix_shm* shm_ = nullptr;
};

// The buttons of a controller record as a bit set, button n at bit n - 1.
std::uint32_t buttonBits(const quorlix_con_data& record);
