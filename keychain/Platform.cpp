#include "Platform.h"

#include <atomic>

namespace tarnel {

namespace {
std::atomic<Platform*> g_replacement{nullptr};
}

Platform& platform() {
    Platform* replacement = g_replacement.load(std::memory_order_acquire);
    return replacement != nullptr ? *replacement : systemPlatform();
}

Platform* usePlatform(Platform* replacement) {
    return g_replacement.exchange(replacement, std::memory_order_acq_rel);
}

}  // namespace tarnel
