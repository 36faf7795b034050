// Module loading on Windows. Finalize only forgets the handle: the module
// stays mapped for the life of the process.
#include <windows.h>

#include <cstdio>

#include "../core/Platform.h"

namespace {

// The system's text for a Windows error code, copied into reason; empty when
// the system has none.
void systemErrorText(DWORD code, char* reason, std::size_t reasonSize) {
    reason[0] = '\0';
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (text == nullptr) return;
    if (length > 0) std::snprintf(reason, reasonSize, "%.*s", static_cast<int>(length), text);
    LocalFree(text);
}

}  // namespace

namespace platform {

void* openModule(const char* name, char* reason, std::size_t reasonSize) {
    HMODULE module = LoadLibraryExA(name, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr && reasonSize > 0) systemErrorText(GetLastError(), reason, reasonSize);
    return module;
}

void closeModule(void* module) {
    FreeLibrary(static_cast<HMODULE>(module));
}

void releaseAfterFinalize(void*) {}

void* findSymbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

}  // namespace platform
