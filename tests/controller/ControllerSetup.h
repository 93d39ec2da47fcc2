#pragma once

#include "CaptureStdout.h"
#include "TestOptions.h"
#include "controller/CConCommonH.h"
#include "support/CLogH.h"

#include <cstdint>
#include <initializer_list>
#include <string>

// A controller part set up as the wand driver does it, logging to a quiet
// host logger so messages compare as plain text ("HOST: ERROR: ...").
struct WandControllers {
    CLogH host = quietLogger();
    CConCommonH common{&host};
    TestOptions options;
    std::string output;

    explicit WandControllers(std::uint32_t count = 1) {
        common.createControllerList(count, true);
        common.setControllerDefaults(1, 1, 2, 11);
    }

    // Parses a fresh list of the lines, numbered from 7, and keeps what was written.
    bool parse(std::initializer_list<const char*> lines) {
        options = TestOptions();
        std::uint32_t number = 7;
        for (const char* text : lines) options.line(number++, text);
        CaptureStdout capture;
        const bool result = common.parseOptions(options.list());
        output = capture.text();
        return result;
    }

    const ControllerEntry& entry(std::uint32_t c = 1) const { return *common.getController(c); }
};
