// Full path of a loaded module on Linux and macOS: an absolute name is its own
// path; any other name is looked up in what the process has loaded.
#include <cstring>

#include "../core/Platform.h"

extern "C" char* getmodulepath(void*, const char* sModule) {
    if (sModule == nullptr) return nullptr;
    if (sModule[0] == '/') return strdup(sModule);
    return platform::findLoadedModulePath(sModule);
}
