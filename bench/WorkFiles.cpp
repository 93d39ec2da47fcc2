#include "WorkFiles.h"

#include <stdlib.h>

#include <cstdio>
#include <fstream>

std::string makeWorkDirectory() {
    char pattern[] = "/tmp/quorlix-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        std::perror("mkdtemp");
        return "";
    }
    std::printf("work directory: %s\n", pattern);
    return pattern;
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out);
}
