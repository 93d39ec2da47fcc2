#pragma once

#include "PseudoTerminal.h"

#include <memory>
#include <string>

// A serial line under a name that stays when the line behind it changes, as
// an adapter that is pulled and plugged in again comes back: the name is a
// symbolic link in a private directory, pointing at a pseudo-terminal.
class SwappableLine {
public:
    SwappableLine();
    ~SwappableLine();
    SwappableLine(const SwappableLine&) = delete;
    SwappableLine& operator=(const SwappableLine&) = delete;

    bool ok() const { return ok_; }
    // The name to configure the wand with.
    const std::string& name() const { return link_; }
    PseudoTerminal& terminal() { return *terminal_; }

    // The far end goes away; the name is left dangling.
    void hangUp();
    // A new terminal behind the same name.
    bool plugIn();

private:
    std::string directory_;
    std::string link_;
    std::unique_ptr<PseudoTerminal> terminal_;
    bool ok_ = false;
};
