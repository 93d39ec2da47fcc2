#pragma once

#include <functional>
#include <map>
#include <string>

// A benchmark's command line: "--name value" pairs only.
using OptionSetter = std::function<void(const char* value)>;

// Hands each value to its name's setter; false for a name not in `setters`
// or a name without a value.
bool readOptionPairs(int argc, char** argv, const std::map<std::string, OptionSetter>& setters);

// Setters for a whole number (as atoi reads it) and for text.
OptionSetter numberOption(int& field);
OptionSetter textOption(std::string& field);
