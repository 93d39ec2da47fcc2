#pragma once

#include <cstdlib>
#include <iostream>
#include <string>

// The report leaves fixed notation and precision 3 on std::cout by design;
// tests put the stream back so that neither they nor later tests depend on order.
class CoutFormatGuard {
public:
    CoutFormatGuard() : flags_(std::cout.flags()), precision_(std::cout.precision()), fill_(std::cout.fill()) {
        std::cout.flags(std::ios::dec | std::ios::skipws);
        std::cout.precision(6);
    }
    ~CoutFormatGuard() {
        std::cout.flags(flags_);
        std::cout.precision(precision_);
        std::cout.fill(fill_);
    }

private:
    std::ios::fmtflags flags_;
    std::streamsize precision_;
    char fill_;
};

inline const std::string kFixturePath = QUORLIX_CALIBRATION_FIXTURE;

// Copies of the test library loaded right now.
inline int fixtureLoads() {
    const char* now = std::getenv("QUORLIX_FIXTURE_LOADS");
    return now != nullptr ? std::atoi(now) : 0;
}
