// Full path of a module loaded by a bare name on Linux: the first line of the
// process's memory map that names it.
#include "ModulePath.h"

#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../core/Platform.h"

namespace {

struct FileCloser {
    FILE* file;
    ~FileCloser() {
        if (file != nullptr) std::fclose(file);
    }
};

}  // namespace

namespace platform {

char* modulePathInMaps(const char* text, std::size_t length, const char* sModule) {
    // Whole lines, however long: a path is never cut where a read ends.
    std::string line;
    std::size_t pos = 0;
    while (pos < length) {
        const void* newline = std::memchr(text + pos, '\n', length - pos);
        const std::size_t end =
            newline != nullptr ? static_cast<const char*>(newline) - text + 1 : length;
        line.assign(text + pos, end - pos);
        pos = end;
        const char* match = std::strstr(line.c_str(), sModule);
        if (match == nullptr) continue;
        LogFunction("sLibPath: %s", 0, match);
        const char* start = match;
        while (start > line.c_str() && start[-1] != ' ') --start;
        const std::size_t pathLen = std::strcspn(start, "\r\n");
        char* path = static_cast<char*>(std::malloc(pathLen + 1));
        if (path == nullptr) return nullptr;
        std::memcpy(path, start, pathLen);
        path[pathLen] = '\0';
        return path;
    }
    LogFunction("sLibPath: %s", 0, "");
    return nullptr;
}

char* findLoadedModulePath(const char* sModule) {
    char mapsName[64];
    std::snprintf(mapsName, sizeof mapsName, "/proc/%d/maps", static_cast<int>(getpid()));
    FileCloser maps{std::fopen(mapsName, "rb")};
    if (maps.file == nullptr) return nullptr;
    LogFunction("Maps file opened: %s", 0, mapsName);

    // The kernel reports no size for the map, so it is read until it ends.
    std::string text;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, maps.file)) > 0) text.append(chunk, got);
    return modulePathInMaps(text.data(), text.size(), sModule);
}

}  // namespace platform
