#pragma once

#include <string>

namespace sim {

// The symbolic link that gives a pseudo-terminal a stable name. The simulator
// replaces only links of its own kind at that name (to a pseudo-terminal, or
// where it last pointed one), never a file or link that someone else put there.

// True when nothing is at `path` or a link of that kind is; otherwise false,
// with `error` naming `path` and what is there. `ours` is where the simulator
// last pointed the link (empty before it made one).
bool mayReplaceLink(const std::string& path, const std::string& ours, std::string& error);

// Points `path` at `target` in one step, so a host opening it never finds it
// missing; refuses as mayReplaceLink does.
bool placeLink(const std::string& path, const std::string& target, const std::string& ours, std::string& error);

// Removes the link at `path` when it still points at `target`; anything else
// there is left alone (false).
bool removeOwnLink(const std::string& path, const std::string& target);

}  // namespace sim
