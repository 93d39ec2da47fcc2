#pragma once

#include "Script.h"

#include <string>

namespace sim {

struct ParseError {
    unsigned line = 0;
    std::string what;
};

// Reads a script: one statement per line or per ';', '#' comments,
// "repeat N { ... }" blocks. On failure `error` names the first bad line and
// `script` is left empty.
bool parseScript(const std::string& text, Script& script, ParseError& error);

// "100ms", "2s", "1.5s", "250us"; false for anything else or a negative time.
bool parseDuration(const std::string& text, Duration& out);

}  // namespace sim
