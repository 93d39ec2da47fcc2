#pragma once

#include <functional>

// Polls `done` every 10 ms until it holds (true) or `limitMs` have passed
// (false): how a test waits for a state that no line or record announces.
bool eventually(const std::function<bool()>& done, int limitMs);
