#pragma once

#include <cstdint>

class CDataStorage;

// The block the host passes to init: twelve pointer-sized words. The wand uses
// word 0 (tracker storage), word 1 (controller storage) and word 11 (the
// host's keep-running flag); the others are the host's.
struct InitInfo {
    CDataStorage* traStorage;
    CDataStorage* conStorage;
    void* hostWords[9];
    std::int32_t* runFlag;
};

static_assert(sizeof(InitInfo) == 12 * sizeof(void*), "InitInfo is twelve words");
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(InitInfo) == 48, "InitInfo as the host lays it out");
#endif
