// Fuzz target: finding the module's full path in memory-map text. The first
// input line (up to the first line feed) is the module name looked for, the
// rest the map. The scan over a buffer must answer as the line-by-line read
// of the same text from a file does, and what it answers must be a piece of
// one line of the map that names the module.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "linux/ModulePath.h"

namespace {

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};
using Path = std::unique_ptr<char, FreeDeleter>;

// The map read as a file, one line at a time: the reading the scan replaced.
Path scanAsFile(const std::string& map, const char* name) {
    if (map.empty()) return nullptr;  // fmemopen refuses an empty buffer
    std::string copy = map;
    FILE* file = fmemopen(copy.data(), copy.size(), "rb");
    FUZZ_CHECK(file != nullptr);
    char* line = nullptr;
    size_t capacity = 0;
    Path found;
    while (getline(&line, &capacity, file) >= 0) {
        const char* match = std::strstr(line, name);
        if (match == nullptr) continue;
        const char* start = match;
        while (start > line && start[-1] != ' ') --start;
        found.reset(strndup(start, std::strcspn(start, "\r\n")));
        break;
    }
    std::free(line);
    std::fclose(file);
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\n');
    if (split == std::string::npos) return 0;
    // The name is a C string, as the loader has it.
    const std::string name = input.substr(0, split).c_str();
    // An exact-size heap copy, so a read past the map's end is seen.
    const std::size_t mapSize = size - split - 1;
    std::unique_ptr<char[]> map(new char[mapSize > 0 ? mapSize : 1]);
    std::memcpy(map.get(), input.data() + split + 1, mapSize);

    Path path(platform::modulePathInMaps(map.get(), mapSize, name.c_str()));
    Path expected = scanAsFile(std::string(map.get(), mapSize), name.c_str());
    FUZZ_CHECK((path == nullptr) == (expected == nullptr));
    if (path == nullptr) return 0;
    FUZZ_CHECK(std::strcmp(path.get(), expected.get()) == 0);

    // A piece of the map holding no line end, and the name itself unless a
    // carriage return comes first.
    const std::string found = path.get();
    FUZZ_CHECK(found.find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(std::string(map.get(), mapSize).find(found) != std::string::npos);
    if (name.find_first_of("\r\n") == std::string::npos && !name.empty()) {
        const std::size_t at = found.find(name);
        if (at != std::string::npos) {
            FUZZ_CHECK(found.substr(0, at).find(' ') == std::string::npos);
        } else {
            // A carriage return inside the line ends the path before the name.
            FUZZ_CHECK(std::string(map.get(), mapSize).find(found + "\r") != std::string::npos);
        }
    }
    return 0;
}
