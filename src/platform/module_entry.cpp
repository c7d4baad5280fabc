// Load-time entry of the Windows module: no per-thread notifications, and the
// private heap lives exactly as long as the module is loaded.
#if defined(_WIN32)
#include <windows.h>

#include "platform/heap.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        tavrine::platform::openModuleHeap();
    } else if (reason == DLL_PROCESS_DETACH) {
        tavrine::platform::closeModuleHeap();
    }
    return TRUE;
}
#endif
