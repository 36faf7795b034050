// The event task: a background thread that registers for every keychain event
// and turns its own run loop ten times a second, printing each event and the
// keychains of the dynamic domain. Started by loadKeyChainLibrary, stopped by
// Finalize.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <thread>

#include "Java.h"
#include "KeyChainNatives.h"
#include "tarnel.h"

namespace tarnel {

std::atomic<bool> g_loop{false};

const char g_kcEvents[12][30] = {
    "",
    "kSecLockEvent",
    "kSecUnlockEvent",
    "kSecAddEvent",
    "kSecDeleteEvent",
    "kSecUpdateEvent",
    "kSecPasswordChangedEvent",
    "",
    "",
    "kSecDefaultChangedEvent",
    "kSecDataAccessEvent",
    "kSecKeychainListChangedEvent",
};

const char* eventName(std::uint32_t event, char (&scratch)[32]) {
    if (event < sizeof g_kcEvents / sizeof g_kcEvents[0]) return g_kcEvents[event];
    std::snprintf(scratch, sizeof scratch, "unknown event %u", event);
    return scratch;
}

namespace {

constexpr auto kTurnPause = std::chrono::milliseconds(100);
constexpr auto kStopWait = std::chrono::seconds(2);

// The task's life, beside g_loop: whether one exists, whether it has registered its callback,
// whether a stop was asked for, and whether it has committed to ending.
std::mutex g_taskMutex;
std::condition_variable g_taskChanged;
bool g_taskRunning = false;
bool g_taskRegistered = false;
bool g_stopRequested = false;
bool g_taskExiting = false;

void taskEnded() {
    std::lock_guard<std::mutex> lock(g_taskMutex);
    g_taskRunning = false;
    g_taskRegistered = false;
    g_taskExiting = false;
    g_taskChanged.notify_all();
}

}  // namespace

void runPendingSources() {
    while (platform().runLoopOnce() == kRunLoopHandledSource) {
    }
}

Status KeychainCallback(std::uint32_t event, CallbackInfo* info, void* /*context*/) {
    char scratch[32];
    std::printf("\nCallback called. Event: %s, PID: %d", eventName(event, scratch),
                info != nullptr ? static_cast<int>(info->pid) : 0);
    Owned list;
    if (platform().copyDomainSearchList(PreferencesDomain::Dynamic, list.out()) == kOk &&
        list.get() != nullptr) {
        const long count = platform().arrayCount(list.get());
        for (long i = 0; i < count; ++i) {
            char path[kPathBufferSize];
            if (readKeychainPath(platform().arrayElement(list.get(), i), path)) {
                std::printf("\nKeychain %d: %s", static_cast<int>(i), path);
            } else {
                std::printf("\nKeychain %d: <can't retrieve>", static_cast<int>(i));
            }
        }
    }
    std::fflush(nullptr);
    return kOk;
}

void UpdateChains() {
    if (platform().addEventCallback(KeychainCallback, kEveryEventMask, nullptr) != kOk) {
        taskEnded();
        return;
    }
    bool stop = false;
    {
        std::lock_guard<std::mutex> lock(g_taskMutex);
        g_taskRegistered = true;
        if (g_stopRequested) {
            g_taskExiting = true;
            stop = true;
        } else {
            g_loop = true;
        }
    }
    while (!stop) {
        if (!g_loop) {
            std::lock_guard<std::mutex> lock(g_taskMutex);
            if (!g_loop) {
                g_taskExiting = true;
                break;
            }
        }
        std::this_thread::sleep_for(kTurnPause);
        runPendingSources();
    }
    platform().removeEventCallback(KeychainCallback);
    taskEnded();
}

}  // namespace tarnel

using namespace tarnel;

extern "C" JNIEXPORT jint JNICALL Java_zentrel_keychain_KeyChainLib_loadKeyChainLibrary(JNIEnv*,
                                                                                        jobject) {
    std::unique_lock<std::mutex> lock(g_taskMutex);
    if (g_taskRunning && g_taskExiting) {
        // A task on its way out: let it finish before starting the next.
        g_taskChanged.wait_for(lock, kStopWait, [] { return !g_taskRunning; });
    }
    if (g_taskRunning) {
        if (!g_taskExiting) {
            // One task at a time; a stop asked of it is called off.
            g_stopRequested = false;
            if (g_taskRegistered) g_loop = true;
        }
        return 0;
    }
    g_taskRunning = true;
    g_taskRegistered = false;
    g_taskExiting = false;
    g_stopRequested = false;
    try {
        std::thread(UpdateChains).detach();
    } catch (const std::system_error& e) {
        g_taskRunning = false;
        return e.code().value() != 0 ? e.code().value() : -1;
    } catch (...) {
        g_taskRunning = false;
        return -1;
    }
    return 0;
}

extern "C" JNIEXPORT void JNICALL Java_zentrel_keychain_KeyChainLib_Finalize(JNIEnv*, jobject) {
    std::unique_lock<std::mutex> lock(g_taskMutex);
    if (!g_taskRunning) return;
    g_stopRequested = true;
    g_loop = false;
    g_taskChanged.wait_for(lock, kStopWait, [] { return !g_taskRunning; });
}
