// The DLL's attach routine.
#include "ModuleInstance.h"

namespace {

HINSTANCE g_moduleInstance = nullptr;

}  // namespace

namespace platform {

HINSTANCE moduleInstance() {
    return g_moduleInstance;
}

}  // namespace platform

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID) {
    if (fdwReason == DLL_PROCESS_ATTACH) {
        g_moduleInstance = hinstDLL;
        // The bridge keeps no per-thread state that needs the notifications.
        DisableThreadLibraryCalls(hinstDLL);
    }
    return TRUE;
}
