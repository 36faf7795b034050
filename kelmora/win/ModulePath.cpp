// Full path of the loaded module on Windows: the system's file name for its
// handle, whatever name it was loaded by.
#include <windows.h>

#include <cstdlib>

#include "../kelmora.h"

namespace {

// Longer than any path the system can hand back; a guard against a loop.
constexpr DWORD kLargestPathBuffer = 1u << 20;

}  // namespace

extern "C" char* getmodulepath(void* hModule, const char*) {
    for (DWORD size = 256 + 1; size <= kLargestPathBuffer; size *= 2) {
        char* path = static_cast<char*>(std::malloc(size));
        if (path == nullptr) return nullptr;
        // A stale error code must not pass for a cut-short answer.
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(hModule), path, size);
        if (length == 0) {
            LogFunction("GetModuleFileName failed for buffer size %d", 0, static_cast<int>(size));
            std::free(path);
            return nullptr;
        }
        if (GetLastError() == ERROR_INSUFFICIENT_BUFFER || length + 1 >= size) {
            std::free(path);
            continue;
        }
        path[length] = '\0';
        return path;
    }
    return nullptr;
}
