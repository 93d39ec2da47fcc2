#pragma once

#include <cstdint>

// An emulated tracker driven by one controller's valuators.
struct TrackerEmulation {
    static constexpr std::uint32_t kPoseValues = 6;  // X, Y, Z, Azim, Elev, Roll

    std::uint32_t trackerNumber;  // 0 until the trackers are numbered
    float initialValues[kPoseValues];
    std::uint32_t valuatorAssignment[kPoseValues];  // output valuator per pose value, 0 = none
    std::uint32_t resetButton;                      // output button, 0 = none
    double lastUpdateTime;                          // 0.0 until the first step
};

// One physical controller of a device: how its valuators and buttons are
// renumbered and scaled and under which output number it is published.
struct ControllerEntry {
    static constexpr std::uint32_t kMaxValuators = 32;
    static constexpr std::uint32_t kMaxButtons = 32;
    static constexpr std::uint32_t kScaleTerms = 4;  // x^3, x^2, x, constant

    std::uint32_t outputNumber;  // 0 = not published
    std::uint32_t valuatorCount;
    std::uint32_t buttonCount;
    std::uint32_t valuatorOrder[kMaxValuators];  // element r-1: output valuator of real valuator r
    std::uint32_t buttonOrder[kMaxButtons];      // element r-1: output button of real button r
    float valuatorScale[kMaxValuators][kScaleTerms];
    TrackerEmulation* trackerEmulation;  // owned by the controller list
};
