// The plug-in's load-time hook. Only the DLL links it: an executable that
// links the subsystem library never refers to DllMain.
#include <windows.h>

// The plug-in keeps no per-thread state, so the host's thread starts and
// exits need not wait on the loader to notify it.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
    return TRUE;
}
