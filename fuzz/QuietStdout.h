#pragma once

#include <iostream>
#include <streambuf>

// Standard output swallowed while it lives: the device report and the log
// are formatted as usual, then dropped, so a run is not slowed down by them.
class QuietStdout {
public:
    QuietStdout() : saved_(std::cout.rdbuf(&sink_)) {}
    ~QuietStdout() { std::cout.rdbuf(saved_); }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    class Sink : public std::streambuf {
    protected:
        int_type overflow(int_type c) override { return traits_type::not_eof(c); }
        std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
    };

    Sink sink_;
    std::streambuf* saved_;
};
