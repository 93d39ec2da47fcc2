#pragma once

#include "Script.h"

#include <cstdint>

namespace sim {

// Where a running script goes: the line, a capture file, a test's recorder.
class ScriptSink {
public:
    virtual ~ScriptSink() = default;
    // False when the bytes could not be written.
    virtual bool send(const Bytes& bytes) = 0;
    // False when the run should stop (interrupted).
    virtual bool pause(Duration duration) = 0;
    virtual bool unplug() = 0;
    virtual bool plug() = 0;
};

struct RunCounts {
    std::uint64_t records = 0;  // key and text records
    std::uint64_t bytes = 0;
};

// Runs scripts step by step, keeping the set of held buttons between steps
// and between runs.
class ScriptRunner {
public:
    explicit ScriptRunner(ScriptSink& sink) : sink_(sink) {}

    // False when the sink failed or asked to stop; `failedLine` then names the step.
    bool run(const Script& script);

    // Presses or releases one button as a key would: sends the new held set.
    bool toggle(int button);
    bool releaseAll();
    bool sendText(const std::string& text);

    ButtonSet held() const { return held_; }
    const RunCounts& counts() const { return counts_; }
    unsigned failedLine() const { return failedLine_; }

private:
    bool step(const Step& step);
    bool sendRecord(const Bytes& bytes);
    bool sendHeld();

    ScriptSink& sink_;
    ButtonSet held_;
    RunCounts counts_;
    unsigned failedLine_ = 0;
};

}  // namespace sim
