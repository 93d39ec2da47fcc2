#pragma once

#include <string>

// The files of a benchmark run.

// A new directory under /tmp for the run's files, announced on standard
// output; empty (with the reason on standard error) when none could be made.
std::string makeWorkDirectory();

// Writes `text` as the whole file; false when it could not.
bool writeFile(const std::string& path, const std::string& text);
