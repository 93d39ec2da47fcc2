// The records a Windows host shares with the DLL. Their headers check the
// host's offsets (InitInfo 48 bytes, OptionList, CDataStorage, CMutexH)
// wherever pointers are 32 bits wide; this keeps that guard from going
// quietly false on the 32-bit DLL's build.
#include "plugin/InitInfo.h"
#include "storage/CDataStorage.h"
#include "storage/CMutexH.h"
#include "support/OptionList.h"

#include <cstdint>

static_assert(sizeof(void*) != 4 || UINTPTR_MAX == 0xFFFFFFFFu, "the 32-bit layout checks must compile here");
