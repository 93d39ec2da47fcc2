#include "OptionPairs.h"

#include <cstdlib>

bool readOptionPairs(int argc, char** argv, const std::map<std::string, OptionSetter>& setters) {
    for (int i = 1; i < argc; i += 2) {
        const auto setter = setters.find(argv[i]);
        if (setter == setters.end() || i + 1 >= argc) return false;
        setter->second(argv[i + 1]);
    }
    return true;
}

OptionSetter numberOption(int& field) {
    return [&field](const char* value) { field = std::atoi(value); };
}

OptionSetter textOption(std::string& field) {
    return [&field](const char* value) { field = value; };
}
