#include "CaptureStdout.h"

#include <iostream>

CaptureStdout::CaptureStdout() : saved_(std::cout.rdbuf(buffer_.rdbuf())) {}

CaptureStdout::~CaptureStdout() {
    std::cout.rdbuf(saved_);
}
