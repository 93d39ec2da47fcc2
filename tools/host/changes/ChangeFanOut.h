// changes/: the change bus: each record a device rewrote, handed to every output.
#pragma once

#include "ChangeEvent.h"

#include <vector>

namespace host {

// Tells several listeners of each change, in the order they were added.
class ChangeFanOut : public ChangeListener {
public:
    void add(ChangeListener& listener) { listeners_.push_back(&listener); }
    void changed(const ChangeEvent& event) override {
        for (ChangeListener* l : listeners_) l->changed(event);
    }

private:
    std::vector<ChangeListener*> listeners_;
};

}  // namespace host
