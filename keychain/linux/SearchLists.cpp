// Search lists from the configuration file, the arrays that carry them and
// the keychains' paths.
//
// The file is read anew on every request, so a change is seen without any
// notification. It is the only place of the bridge that reads the environment.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "Internal.h"

namespace tarnel::linux_platform {

namespace {

// Index of a search list by the word that opens its lines; -1 for unknown words.
int listIndex(const std::string& word) {
    static const char* const kWords[] = {"user", "system", "common", "dynamic", "default"};
    for (int i = 0; i < 5; ++i) {
        if (word == kWords[i]) return i;
    }
    return -1;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

void parseLine(std::string line, Configuration& config) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') return;
    std::size_t wordEnd = 0;
    while (wordEnd < line.size() && !isBlank(line[wordEnd])) ++wordEnd;
    int index = listIndex(line.substr(0, wordEnd));
    std::size_t pathStart = wordEnd;
    while (pathStart < line.size() && isBlank(line[pathStart])) ++pathStart;
    std::string path = line.substr(pathStart);
    if (index < 0 || path.empty() || path[0] != '/') return;
    if (path.find('\0') != std::string::npos) return;
    config.lists[static_cast<std::size_t>(index)].push_back(std::move(path));
}

Status copyList(std::size_t index, Ref* list) {
    if (list == nullptr) return kParam;
    Configuration config = readConfiguration();
    auto array = std::make_unique<ArrayObject>();
    array->elements.reserve(config.lists[index].size());
    for (const auto& path : config.lists[index]) array->elements.push_back(makeKeychain(path));
    *list = publish(std::move(array));
    return kOk;
}

}  // namespace

std::string configurationPath() {
    const char* named = std::getenv("TARNEL_KEYCHAINS");
    if (named != nullptr && *named != '\0') return named;
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') return std::string();
    return std::string(home) + "/.config/tarnel/keychains.conf";
}

Configuration readConfiguration() {
    Configuration config;
    config.file = configurationPath();
    if (config.file.empty()) return config;
    std::ifstream in(config.file, std::ios::binary);
    std::string line;
    while (in && std::getline(in, line)) parseLine(line, config);
    return config;
}

Status LinuxPlatform::copyDomainSearchList(PreferencesDomain domain, Ref* list) {
    auto index = static_cast<std::int32_t>(domain);
    if (index < 0 || index > 3) return kParam;
    return copyList(static_cast<std::size_t>(index), list);
}

Status LinuxPlatform::copyDefaultSearchList(Ref* list) {
    return copyList(kDefaultList, list);
}

long LinuxPlatform::arrayCount(Ref array) {
    auto* object = find<ArrayObject>(array);
    return object == nullptr ? 0 : static_cast<long>(object->elements.size());
}

Ref LinuxPlatform::arrayElement(Ref array, long index) {
    auto* object = find<ArrayObject>(array);
    if (object == nullptr || index < 0 ||
        static_cast<std::size_t>(index) >= object->elements.size())
        return nullptr;
    return object->elements[static_cast<std::size_t>(index)];
}

Status LinuxPlatform::keychainPath(Ref keychain, std::uint32_t* length, char* path) {
    auto* object = find<KeychainObject>(keychain);
    if (object == nullptr || length == nullptr || path == nullptr) return kParam;
    if (object->path.size() + 1 > *length) return kBufferTooSmall;
    std::memcpy(path, object->path.c_str(), object->path.size() + 1);
    *length = static_cast<std::uint32_t>(object->path.size());
    return kOk;
}

}  // namespace tarnel::linux_platform
