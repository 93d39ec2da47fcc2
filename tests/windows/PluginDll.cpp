#include "PluginDll.h"

PluginDll::PluginDll() : module(LoadLibraryA("quorlix.dll")) {
    if (module == NULL) return;
    createDev = reinterpret_cast<CreateDev>(reinterpret_cast<void*>(GetProcAddress(module, "createDev")));
    deleteDev = reinterpret_cast<DeleteDev>(reinterpret_cast<void*>(GetProcAddress(module, "deleteDev")));
}

PluginDll::~PluginDll() {
    if (module != NULL) FreeLibrary(module);
}
