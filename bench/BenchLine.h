#pragma once

#include <cstddef>
#include <string>

// A pseudo-terminal the benchmark writes wand bytes on; the reader under
// test opens its other end by name(), as it would a serial port.
class BenchLine {
public:
    BenchLine();
    ~BenchLine();
    BenchLine(const BenchLine&) = delete;
    BenchLine& operator=(const BenchLine&) = delete;

    bool ok() const { return master_ >= 0; }
    const std::string& name() const { return name_; }
    // All bytes in one write; true when all were written.
    bool write(const void* bytes, std::size_t count);

private:
    int master_ = -1;
    std::string name_;
};
