#pragma once

#include <string>

// Collects everything the process writes to its standard output while it
// lives, the plug-in DLL's own C++ runtime included (which CaptureStdout, on
// this program's std::cout, cannot see). If the running test fails, what was
// collected is passed on to the real output afterwards.
class ProcessOutput {
public:
    ProcessOutput();
    ~ProcessOutput();
    ProcessOutput(const ProcessOutput&) = delete;
    ProcessOutput& operator=(const ProcessOutput&) = delete;

    bool ok() const { return saved_ >= 0; }
    std::string text() const;
    void clear();

private:
    int saved_ = -1;
    int file_ = -1;
    std::string path_;
};
