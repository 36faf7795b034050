// The full path of a module loaded by a bare name on macOS: the images dyld
// has loaded into this task, chosen from by ImageSelection.cpp.
#include <cstdint>
#include <type_traits>
#include <vector>

#include "../core/Platform.h"
#include "Dyld.h"
#include "ImageList.h"

namespace {

// What the loop below assumes of dyld's interface: images are counted and
// indexed with uint32_t, and each image's header address is its load address.
static_assert(std::is_convertible<decltype(&_dyld_image_count), std::uint32_t (*)()>::value,
              "_dyld_image_count does not return uint32_t");
static_assert(std::is_convertible<decltype(&_dyld_get_image_header),
                                  const mach_header* (*)(std::uint32_t)>::value,
              "_dyld_get_image_header is not a uint32_t index to a const mach_header*");
static_assert(
    std::is_convertible<decltype(&_dyld_get_image_name), const char* (*)(std::uint32_t)>::value,
    "_dyld_get_image_name is not a uint32_t index to a const char*");

}  // namespace

namespace platform {

std::vector<LoadedImage> listLoadedImages() {
    // Another thread may load or unload images meanwhile: an index that is no
    // longer valid gives a null header or name, and the selection drops it.
    const std::uint32_t count = _dyld_image_count();
    std::vector<LoadedImage> images;
    images.reserve(count);
    for (std::uint32_t index = 0; index < count; ++index) {
        images.push_back({reinterpret_cast<std::uintptr_t>(_dyld_get_image_header(index)),
                          _dyld_get_image_name(index)});
    }
    return images;
}

char* findLoadedModulePath(const char* sModule) {
    return modulePathAmongImages(listLoadedImages(), sModule);
}

}  // namespace platform
