// Module loading on Linux and macOS.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>

#include "../core/Platform.h"

namespace platform {

void* openModule(const char* name, char* reason, std::size_t reasonSize) {
    void* module = dlopen(name, RTLD_LAZY);
    if (module == nullptr && reasonSize > 0) {
        const char* text = dlerror();
        std::snprintf(reason, reasonSize, "%s", text != nullptr ? text : "");
    }
    return module;
}

void closeModule(void* module) {
    dlclose(module);
}

void releaseAfterFinalize(void* module) {
    dlclose(module);
}

void* findSymbol(void* module, const char* name) {
    return dlsym(module, name);
}

bool sidefileDisablesSecondAuthentication(const char* text, std::size_t length) {
    static const char kKey[] = "DsPinIsCNSPin=true";
    const std::size_t keyLen = sizeof(kKey) - 1;
    for (std::size_t i = 0; i + keyLen <= length; ++i) {
        if (std::memcmp(text + i, kKey, keyLen) == 0) return true;
    }
    return false;
}

}  // namespace platform
