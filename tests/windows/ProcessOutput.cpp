#include "ProcessOutput.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <iostream>

ProcessOutput::ProcessOutput() {
    char directory[MAX_PATH];
    char path[MAX_PATH];
    if (GetTempPathA(MAX_PATH, directory) == 0 || GetTempFileNameA(directory, "qlx", 0, path) == 0) return;
    path_ = path;
    file_ = _open(path, _O_RDWR | _O_BINARY | _O_TRUNC, _S_IREAD | _S_IWRITE);
    if (file_ < 0) return;
    std::cout.flush();
    std::fflush(stdout);
    saved_ = _dup(1);
    if (saved_ >= 0 && _dup2(file_, 1) != 0) {
        _close(saved_);
        saved_ = -1;
        return;
    }
    _setmode(1, _O_BINARY);  // lines as written, without CR added
}

ProcessOutput::~ProcessOutput() {
    if (saved_ >= 0) {
        const std::string collected = text();
        std::fflush(stdout);
        _dup2(saved_, 1);
        _close(saved_);
        if (::testing::Test::HasFailure()) std::printf("--- output of the failed test:\n%s---\n", collected.c_str());
    }
    if (file_ >= 0) _close(file_);
    if (!path_.empty()) DeleteFileA(path_.c_str());
}

std::string ProcessOutput::text() const {
    if (file_ < 0) return "";
    std::cout.flush();
    std::fflush(stdout);
    std::string result;
    const long end = _lseek(file_, 0, SEEK_END);
    if (end > 0 && _lseek(file_, 0, SEEK_SET) == 0) {
        result.resize(static_cast<std::size_t>(end));
        const int got = _read(file_, &result[0], static_cast<unsigned>(end));
        result.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    _lseek(file_, 0, SEEK_END);
    return result;
}

void ProcessOutput::clear() {
    if (file_ < 0) return;
    std::fflush(stdout);
    _chsize(file_, 0);
    _lseek(file_, 0, SEEK_SET);
}
