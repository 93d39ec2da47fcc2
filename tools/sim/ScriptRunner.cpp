#include "ScriptRunner.h"

namespace sim {

bool ScriptRunner::run(const Script& script) {
    for (const Step& s : script) {
        if (!step(s)) {
            if (failedLine_ == 0) failedLine_ = s.line;
            return false;
        }
    }
    return true;
}

bool ScriptRunner::sendRecord(const Bytes& bytes) {
    if (!sink_.send(bytes)) return false;
    ++counts_.records;
    counts_.bytes += bytes.size();
    return true;
}

bool ScriptRunner::sendHeld() { return sendRecord(keyRecord(held_)); }

bool ScriptRunner::step(const Step& s) {
    switch (s.kind) {
    case Step::Kind::press:
        held_.addAll(s.buttons);
        return sendHeld();
    case Step::Kind::release:
        if (s.allButtons) held_.clear();
        else held_.removeAll(s.buttons);
        return sendHeld();
    case Step::Kind::hold:
        held_.addAll(s.buttons);
        if (!sendHeld() || !sink_.pause(s.duration)) return false;
        held_.removeAll(s.buttons);
        return sendHeld();
    case Step::Kind::wait:
        return sink_.pause(s.duration);
    case Step::Kind::text:
        return sendRecord(s.bytes);
    case Step::Kind::raw:
        if (!sink_.send(s.bytes)) return false;
        counts_.bytes += s.bytes.size();
        return true;
    case Step::Kind::repeat:
        for (std::uint32_t i = 0; i < s.count; ++i)
            if (!run(s.body)) return false;
        return true;
    case Step::Kind::unplug:
        return sink_.unplug();
    case Step::Kind::plug:
        return sink_.plug();
    }
    return false;
}

bool ScriptRunner::toggle(int button) {
    if (held_.contains(button)) held_.remove(button);
    else if (!held_.add(button)) return false;
    return sendHeld();
}

bool ScriptRunner::releaseAll() {
    held_.clear();
    return sendHeld();
}

bool ScriptRunner::sendText(const std::string& text) {
    Bytes record;
    return textRecord(text, record) && sendRecord(record);
}

}  // namespace sim
