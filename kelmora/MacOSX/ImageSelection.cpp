// Which loaded image a bare module name refers to: the lowest-loaded image
// whose path contains the name. Nothing here calls the system.
#include <algorithm>
#include <cstring>
#include <utility>

#include "ImageList.h"

namespace platform {

std::vector<LoadedImage> imagesByAddress(std::vector<LoadedImage> images) {
    images.erase(std::remove_if(images.begin(), images.end(),
                                [](const LoadedImage& image) {
                                    return image.loadAddress == 0 || image.path == nullptr;
                                }),
                 images.end());
    std::stable_sort(images.begin(), images.end(), [](const LoadedImage& a, const LoadedImage& b) {
        return a.loadAddress < b.loadAddress;
    });
    images.erase(std::unique(images.begin(), images.end(),
                             [](const LoadedImage& a, const LoadedImage& b) {
                                 return a.loadAddress == b.loadAddress;
                             }),
                 images.end());
    return images;
}

const LoadedImage* firstImageNaming(const std::vector<LoadedImage>& byAddress,
                                    const char* sModule) {
    for (const LoadedImage& image : byAddress) {
        if (std::strstr(image.path, sModule) != nullptr) return &image;
    }
    return nullptr;
}

char* modulePathAmongImages(std::vector<LoadedImage> images, const char* sModule) {
    const std::vector<LoadedImage> byAddress = imagesByAddress(std::move(images));
    const LoadedImage* image = firstImageNaming(byAddress, sModule);
    return image != nullptr ? strdup(image->path) : nullptr;
}

}  // namespace platform
