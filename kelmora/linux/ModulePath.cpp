// Full path of a loaded module on Linux: an absolute name is its own path;
// otherwise the first line of the process's memory map that names it.
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../kelmora.h"

namespace {

struct FileCloser {
    FILE* file;
    ~FileCloser() {
        if (file != nullptr) std::fclose(file);
    }
};

struct LineBuffer {
    char* data = nullptr;
    size_t capacity = 0;
    ~LineBuffer() { std::free(data); }
};

}  // namespace

extern "C" char* getmodulepath(void*, const char* sModule) {
    if (sModule == nullptr) return nullptr;
    if (sModule[0] == '/') return strdup(sModule);

    char mapsName[64];
    std::snprintf(mapsName, sizeof mapsName, "/proc/%d/maps", static_cast<int>(getpid()));
    FileCloser maps{std::fopen(mapsName, "rb")};
    if (maps.file == nullptr) return nullptr;
    LogFunction("Maps file opened: %s", 0, mapsName);

    // Whole lines, however long: a path is never cut where a read ends.
    LineBuffer line;
    ssize_t length;
    while ((length = getline(&line.data, &line.capacity, maps.file)) >= 0) {
        const char* match = std::strstr(line.data, sModule);
        if (match == nullptr) continue;
        LogFunction("sLibPath: %s", 0, match);
        const char* start = match;
        while (start > line.data && start[-1] != ' ') --start;
        const size_t pathLen = std::strcspn(start, "\r\n");
        char* path = static_cast<char*>(std::malloc(pathLen + 1));
        if (path == nullptr) return nullptr;
        std::memcpy(path, start, pathLen);
        path[pathLen] = '\0';
        return path;
    }
    LogFunction("sLibPath: %s", 0, "");
    return nullptr;
}
