#pragma once

#include "support/CDynamicLibH.h"

class CLogH;

// The calibration library a tracker part was told to load. It is only held:
// loaded on construction, released on destruction.
class CCalibH : public CDynamicLibH {
public:
    CCalibH(const char* libraryName, const CLogH* givenLogger);
    ~CCalibH() override;
};
