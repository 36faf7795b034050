// The side-file rule of Windows: pieces at "=", upper case, the key in the
// first piece and "TRUE" in the second.
#include <gtest/gtest.h>

#include <string>

#include "core/Platform.h"

namespace {

struct SideFileCase {
    const char* name;
    std::string text;
    bool disables;
};

const SideFileCase kCases[] = {
    {"exact line", "DsPinIsCNSPin=true", true},
    {"value in capitals", "DsPinIsCNSPin=TRUE", true},
    {"key in small letters", "dspiniscnspin=true", true},
    {"blanks around the separator", "DsPinIsCNSPin = true", true},
    {"line end after the value", "DsPinIsCNSPin=true\r\n", true},
    {"comment line first, key line second", "# signer PIN\r\nDsPinIsCNSPin=true\r\n", true},
    {"another key first", "Other=1\nDsPinIsCNSPin=true\n", false},
    {"key with no value", "DsPinIsCNSPin=", false},
    {"key with only separators after it", "DsPinIsCNSPin====", false},
    {"key without separator", "DsPinIsCNSPin", false},
    {"value false", "DsPinIsCNSPin=false", false},
    {"value mentions true later", "DsPinIsCNSPin=no, not true", true},
    {"empty file", "", false},
    {"separators only", "====", false},
    {"leading separators skipped", "==DsPinIsCNSPin=true", true},
    {"run of separators is one", "DsPinIsCNSPin===true", true},
    {"value taken up to the next separator", "DsPinIsCNSPin=yes\nOther=true", false},
    {"third piece not read", "DsPinIsCNSPin=0=true", false},
    {"key inside a longer first piece", "xxDSPINISCNSPINyy=True", true},
    {"value before a zero byte", std::string("DsPinIsCNSPin=tr\0ue", 20), false},
    {"key cut by a zero byte", std::string("DsPin\0IsCNSPin=true", 19), false},
};

TEST(WindowsSideFile, DecidesByFirstTwoPieces) {
    for (const SideFileCase& c : kCases) {
        // Handed like the loader does: the bytes read and a terminator after them.
        const std::string text = c.text;
        EXPECT_EQ(platform::sidefileDisablesSecondAuthentication(text.c_str(), text.size()),
                  c.disables)
            << c.name;
    }
}

TEST(WindowsSideFile, ReadsNoFurtherThanTheLength) {
    // The length ends the text even where no zero byte follows.
    const char text[] = "DsPinIsCNSPin=trueXXXX";
    for (std::size_t length = 0; length <= 18; ++length) {
        const bool expected = length >= 18;
        EXPECT_EQ(platform::sidefileDisablesSecondAuthentication(text, length), expected)
            << "length " << length;
    }
    EXPECT_FALSE(platform::sidefileDisablesSecondAuthentication("DsPinIsCNSPin=tru", 17));
}

}  // namespace
