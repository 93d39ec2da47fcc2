#pragma once

#include "support/CLogH.h"
#include "support/OptionList.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

// Builds a host OptionList from option lines ("name arg1 arg2 ...").
class TestOptions {
public:
    explicit TestOptions(const std::string& deviceName = "wand");

    // Adds a line split on blanks; the first word is the option name.
    TestOptions& line(std::uint32_t lineNumber, const std::string& text);

    OptionList* list() { return list_.get(); }
    OptionEntry& entry(std::uint32_t index) { return list_->entries[index]; }

private:
    char* keep(const std::string& text);

    std::unique_ptr<OptionList> list_;
    std::deque<std::string> texts_;
};

// A host logger whose lines are easy to compare: no date, time or thread id.
CLogH quietLogger(const char* name = "HOST", std::int32_t debugLevel = 0);
