// The bridge's own module instance handle, recorded when the DLL is attached
// to the process; the PIN dialog's resources are loaded from it.
#pragma once

#include <windows.h>

namespace platform {

// Null until the DLL's attach routine has run.
HINSTANCE moduleInstance();

}  // namespace platform

// The attach routine: records the instance handle at process attach, turns
// off the per-thread notifications and reports success for every reason.
extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved);
