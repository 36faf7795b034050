// What the bridge needs from the operating system. Each platform provides
// these in its own directory (posix/ with linux/ or MacOSX/, or win/); CMake
// picks the files. The platform's PlatformTraits.h, found through the include
// path, adds its constants and the range-check call-site form.
#pragma once

#include <cstddef>

#include "../kelmora.h"

namespace platform {

// Opens the module by name. On failure returns null and writes the system's
// reason (possibly empty) into reason, cut to fit.
void* openModule(const char* name, char* reason, std::size_t reasonSize);
void closeModule(void* module);
void* findSymbol(void* module, const char* name);

// What a successful Finalize does with the module: unload it (Linux, macOS)
// or only forget its handle (Windows).
void releaseAfterFinalize(void* module);

// Decides from the side configuration file text whether the signer PIN is the
// card's service PIN (so no second authentication is needed).
bool sidefileDisablesSecondAuthentication(const char* text, std::size_t length);

// The full path of a module loaded by a name that is not absolute, from what
// the process has loaded (Linux: its memory map; macOS: dyld's image list).
// Newly allocated (free()), or null when nothing loaded names it.
char* findLoadedModulePath(const char* sModule);

// Called when a module asks for the signer PIN and the store is empty: may
// fill g_SignerPin (a PIN dialog where there is one). CKR_OK lets the request
// go on with whatever the store then holds; anything else is its answer.
CK_RV requestSignerPin();

}  // namespace platform
