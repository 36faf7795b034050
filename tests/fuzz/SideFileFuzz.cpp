// Fuzz target: the side configuration file's rule. The input is the file's
// content; the second authentication is off exactly when the text holds
// "DsPinIsCNSPin=true" somewhere, spelled exactly so.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "core/Platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The loader hands the rule a terminated copy of exactly the bytes read;
    // a heap copy of that size lets the sanitizer see any read past them.
    std::string text(reinterpret_cast<const char*>(data), size);
    const bool disables = platform::sidefileDisablesSecondAuthentication(text.c_str(), size);

    static constexpr std::string_view kKey = "DsPinIsCNSPin=true";
    const std::string_view whole(text.data(), size);
    FUZZ_CHECK(disables == (whole.find(kKey) != std::string_view::npos));

    // Case and blanks matter: a text without the exact key never turns it off.
    std::string folded = text;
    std::transform(folded.begin(), folded.end(), folded.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    if (folded.find("dspiniscnspin=true") == std::string::npos) FUZZ_CHECK(!disables);
    return 0;
}
