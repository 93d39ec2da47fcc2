#pragma once

#include "support/OptionList.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

// A host's OptionList built from words: the first word of a line is the
// option's name, the others its arguments. The list owns every text.
class FuzzOptions {
public:
    explicit FuzzOptions(const std::string& deviceName);

    // False, and nothing added, when the list already holds 32 lines. Words
    // beyond the 64th argument are dropped.
    bool add(std::uint32_t lineNumber, const std::vector<std::string>& words);

    OptionList* list() { return list_.get(); }

private:
    char* keep(const std::string& text);

    std::unique_ptr<OptionList> list_;
    std::deque<std::string> texts_;
};
