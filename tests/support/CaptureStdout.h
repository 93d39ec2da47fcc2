#pragma once

#include <sstream>
#include <streambuf>
#include <string>

// Collects everything written to std::cout while it lives.
class CaptureStdout {
public:
    CaptureStdout();
    ~CaptureStdout();
    CaptureStdout(const CaptureStdout&) = delete;
    CaptureStdout& operator=(const CaptureStdout&) = delete;

    std::string text() const { return buffer_.str(); }
    void clear() { buffer_.str(""); }

private:
    std::ostringstream buffer_;
    std::streambuf* saved_;
};
