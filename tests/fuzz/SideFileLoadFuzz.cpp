// Fuzz target: the side configuration file read by a real load. The input is
// the content of the side file next to the test module; after the load the
// second authentication is off exactly when the text holds "DsPinIsCNSPin=true"
// somewhere, spelled exactly so.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "kelmora.h"

#ifndef KELVANE_FUZZ_MODULE
#define KELVANE_FUZZ_MODULE ""
#endif

namespace {

// A link to the test module in a directory of its own, so its side file can
// be written freely; the module stays mapped for the whole run.
std::string g_dir;
std::string g_module;
std::string g_sideFile;

void removeFiles() {
    std::remove(g_sideFile.c_str());
    std::remove(g_module.c_str());
    rmdir(g_dir.c_str());
}

bool holdsKey(const std::string& text) {
    static constexpr std::string_view kKey = "DsPinIsCNSPin=true";
    return std::string_view(text).find(kKey) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* module = std::getenv("KELVANE_FUZZ_MODULE");
    if (module == nullptr) module = KELVANE_FUZZ_MODULE;
    char dir[] = "/tmp/kelvane-sidefile-XXXXXX";
    FUZZ_CHECK(mkdtemp(dir) != nullptr);
    g_dir = dir;
    g_module = g_dir + "/libp11mock.so";
    g_sideFile = g_module + ".conf";
    FUZZ_CHECK(symlink(module, g_module.c_str()) == 0);
    std::atexit(removeFiles);
    FUZZ_CHECK(dlopen(g_module.c_str(), RTLD_NOW | RTLD_LOCAL) != nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const bool expected = holdsKey(text);

    // The loader finds the side file next to the module and reads it.
    FILE* file = std::fopen(g_sideFile.c_str(), "wb");
    FUZZ_CHECK(file != nullptr);
    FUZZ_CHECK(std::fwrite(text.data(), 1, size, file) == size);
    FUZZ_CHECK(std::fclose(file) == 0);
    g_bIsSecondAuthenticationRequired = expected;  // the wrong answer: the load must decide
    try {
        loadLibrary(g_module.c_str(), 1, 0);
    } catch (...) {
        FUZZ_CHECK(!"loading the test module failed");
    }
    FUZZ_CHECK(g_bIsSecondAuthenticationRequired == !expected);
    return 0;
}
