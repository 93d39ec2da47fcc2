#include "SwappableLine.h"

#include <cstdlib>
#include <unistd.h>

SwappableLine::SwappableLine() {
    char pattern[] = "/tmp/quorlix-line-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return;
    directory_ = pattern;
    link_ = directory_ + "/wand";
    ok_ = plugIn();
}

SwappableLine::~SwappableLine() {
    if (!link_.empty()) ::unlink(link_.c_str());
    if (!directory_.empty()) ::rmdir(directory_.c_str());
}

void SwappableLine::hangUp() {
    if (terminal_) terminal_->hangUp();
}

bool SwappableLine::plugIn() {
    // The old terminal is released only after the new one exists, so the two
    // never share a number.
    std::unique_ptr<PseudoTerminal> fresh(new PseudoTerminal);
    if (!fresh->ok()) return false;
    ::unlink(link_.c_str());
    if (::symlink(fresh->name().c_str(), link_.c_str()) != 0) return false;
    terminal_ = std::move(fresh);
    return true;
}
