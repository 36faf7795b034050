// Counting what -Xcheck:jni prints, so that a misuse of JNI fails a test run
// instead of scrolling by: pass `jni_warnings::print` as the JVM's "vfprintf"
// hook and append a `jni_warnings::Listener`, which names the test during
// which a warning appeared.
#pragma once

#include <gtest/gtest.h>
#include <jni.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace jni_warnings {

inline std::atomic<int> g_count{0};
// A second text that counts as a warning (such as "JNI local refs", printed when a native holds
// more local references than its frame has room for), or null.
inline const char* g_alsoCounted = nullptr;

inline int count() {
    return g_count;
}

inline jint JNICALL print(FILE* stream, const char* format, va_list args) {
    char text[2048];
    va_list copy;
    va_copy(copy, args);
    std::vsnprintf(text, sizeof text, format, copy);
    va_end(copy);
    if (std::strstr(text, "WARNING in native method") != nullptr ||
        (g_alsoCounted != nullptr && std::strstr(text, g_alsoCounted) != nullptr)) {
        ++g_count;
    }
    return std::vfprintf(stream, format, args);
}

class Listener : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { before_ = g_count; }
    void OnTestEnd(const ::testing::TestInfo& test) override {
        if (g_count != before_) {
            std::fprintf(stderr, "JNI warnings during %s.%s: %d\n", test.test_suite_name(),
                         test.name(), g_count - before_);
        }
    }
    int before_ = 0;
};

}  // namespace jni_warnings
