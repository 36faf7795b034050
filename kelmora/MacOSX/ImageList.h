// The images loaded in this task, as macOS lists them, and the choice of the
// one a bare module name refers to. DyldImages.cpp reads the list from dyld;
// ImageSelection.cpp (portable, tested on any system) does the choosing.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

// One entry of the task's image list: where the image was loaded (the address
// of its header, 0 when dyld gave none) and its file path (null when none).
struct LoadedImage {
    std::uintptr_t loadAddress;
    const char* path;
};

// The list as dyld reports it right now, in dyld's order. The paths belong to
// dyld and stay valid while the images stay loaded.
std::vector<LoadedImage> listLoadedImages();

// The list in the order names are matched: entries without an address or a
// path dropped (an image unloaded while the list was read), sorted by load
// address, and of several entries at one address only the first listed kept.
std::vector<LoadedImage> imagesByAddress(std::vector<LoadedImage> images);

// The first image (by load address) whose path contains sModule, or null.
const LoadedImage* firstImageNaming(const std::vector<LoadedImage>& byAddress, const char* sModule);

// A newly allocated copy (free()) of the path of the image sModule names among
// images (in any order), or null when none does or the copy cannot be made.
char* modulePathAmongImages(std::vector<LoadedImage> images, const char* sModule);

}  // namespace platform
