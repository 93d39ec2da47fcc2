#pragma once

#include "quorlix/shm.h"

#include <pthread.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

// The floor under every latency figure: a program of its own that opens a
// line with the wand driver's line settings (raw, 9600 8N1, non-blocking),
// waits in poll() and reads one byte at a time, and on a record's last byte
// publishes which of the benchmark's key records it was, under a sequence
// counter in shared memory: a whole controller entry, as the
// plug-in copies one into the host's storage. Whatever the host takes beyond
// this is the host's own.
class FloorReader {
public:
    // `patterns` key record bodies (two bytes each): the state after body p is bit p.
    FloorReader(const std::uint8_t (*bodies)[2], int patterns);
    ~FloorReader();
    FloorReader(const FloorReader&) = delete;
    FloorReader& operator=(const FloorReader&) = delete;

    // Starts the reader on the named line, with SCHED_FIFO at `fifoPriority`
    // when that is above 0; "" once it is reading, else why not.
    std::string start(const std::string& line, int fifoPriority, std::chrono::milliseconds timeout);
    // The state a reader sees now: the entry copied whole, as SharedRecords
    // copies the host's.
    std::uint32_t buttons();

private:
    struct Shared {
        quorlix_shm_controller entry;
        int status;  // 0 starting, 1 reading, or the errno that stopped it
    };
    [[noreturn]] void run(const std::string& line, int fifoPriority);
    void publish(const quorlix_con_data& record);

    const std::uint8_t (*bodies_)[2];
    int patterns_;
    Shared* shared_ = nullptr;
    pid_t child_ = -1;
};
