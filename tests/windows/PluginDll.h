#pragma once

#include "plugin/CBase.h"
#include "support/CLogH.h"
#include "support/OptionList.h"

#include <windows.h>

// quorlix.dll loaded the way a host loads it: LoadLibraryA by its bare name
// (the test program's folder holds a copy) and its two entry points looked
// up by their plain names.
class PluginDll {
public:
    using CreateDev = CBase* (*)(OptionList*, CLogH*);
    using DeleteDev = bool (*)(CBase*);

    PluginDll();
    ~PluginDll();
    PluginDll(const PluginDll&) = delete;
    PluginDll& operator=(const PluginDll&) = delete;

    bool ok() const { return createDev != nullptr && deleteDev != nullptr; }

    HMODULE module = NULL;
    CreateDev createDev = nullptr;
    DeleteDev deleteDev = nullptr;
};
