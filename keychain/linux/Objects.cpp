// The registry of live objects and the counted references.
//
// Every reference handed out is registered here until its last release, so a
// release of anything else (freed, never made, made by someone else) is
// recognised, counted and ignored instead of freeing memory twice.
#include <mutex>
#include <new>
#include <unordered_map>

#include "Internal.h"
#include "LinuxPlatform.h"

namespace tarnel::linux_platform {

namespace {

struct Registry {
    std::mutex mutex;
    std::unordered_map<const void*, Object*> live;
    std::size_t stray = 0;
};

// Never destroyed: objects may be released from other static destructors.
Registry& registry() {
    static Registry* instance = new Registry;
    return *instance;
}

bool counted(Kind kind) {
    return kind != Kind::AttributeList && kind != Kind::Context;
}

}  // namespace

const void* publish(std::unique_ptr<Object> object, const void* handle) {
    Registry& r = registry();
    const void* key = handle != nullptr ? handle : static_cast<const void*>(object.get());
    std::lock_guard<std::mutex> lock(r.mutex);
    r.live.emplace(key, object.get());
    object.release();
    return key;
}

Object* findLive(const void* handle, Kind kind) {
    if (handle == nullptr) return nullptr;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto found = r.live.find(handle);
    if (found == r.live.end() || found->second->kind() != kind) return nullptr;
    return found->second;
}

bool destroy(const void* handle, Kind kind) {
    Registry& r = registry();
    Object* object = nullptr;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        auto found = r.live.find(handle);
        if (found == r.live.end() || found->second->kind() != kind) return false;
        object = found->second;
        r.live.erase(found);
    }
    delete object;  // outside the lock: a destructor may release what it holds
    return true;
}

Ref retainRef(Ref ref) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto found = r.live.find(ref);
    if (found == r.live.end() || !counted(found->second->kind())) {
        ++r.stray;
        return nullptr;
    }
    found->second->count.fetch_add(1, std::memory_order_relaxed);
    return ref;
}

void releaseRef(Ref ref) {
    Registry& r = registry();
    Object* dead = nullptr;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        auto found = r.live.find(ref);
        if (found == r.live.end() || !counted(found->second->kind())) {
            ++r.stray;
            return;
        }
        if (found->second->count.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            dead = found->second;
            r.live.erase(found);
        }
    }
    delete dead;
}

Ref makeKeychain(const std::string& path) {
    return publish(std::make_unique<KeychainObject>(path));
}

std::size_t liveObjects() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.live.size();
}

long referenceCount(Ref ref) {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto found = r.live.find(ref);
    return found == r.live.end() ? 0 : found->second->count.load(std::memory_order_relaxed);
}

std::size_t strayReleases() {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.stray;
}

Ref LinuxPlatform::retain(Ref ref) {
    return retainRef(ref);
}

void LinuxPlatform::release(Ref ref) {
    releaseRef(ref);
}

}  // namespace tarnel::linux_platform

namespace tarnel {

Platform& systemPlatform() {
    static linux_platform::LinuxPlatform instance;
    return instance;
}

}  // namespace tarnel
