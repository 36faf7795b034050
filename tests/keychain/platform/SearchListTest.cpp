// Search lists read from the configuration file, and the keychain path buffer rule.
#include <cstring>

#include "PlatformTest.h"

namespace tarnel::testing {
namespace {

using Lists = std::vector<std::vector<std::string>>;  // user, system, common, dynamic, default

std::vector<std::string> readList(int index) {
    Ref array = nullptr;
    Status status = index < 4
                        ? sys().copyDomainSearchList(static_cast<PreferencesDomain>(index), &array)
                        : sys().copyDefaultSearchList(&array);
    EXPECT_EQ(status, kOk);
    std::vector<std::string> paths;
    for (long i = 0; i < sys().arrayCount(array); ++i) {
        char buffer[1024];
        std::uint32_t length = sizeof buffer;
        EXPECT_EQ(sys().keychainPath(sys().arrayElement(array, i), &length, buffer), kOk);
        EXPECT_EQ(length, std::strlen(buffer));
        paths.emplace_back(buffer, length);
    }
    EXPECT_EQ(sys().arrayElement(array, -1), nullptr);
    EXPECT_EQ(sys().arrayElement(array, sys().arrayCount(array)), nullptr);
    sys().release(array);
    return paths;
}

struct ConfigCase {
    const char* what;
    std::string text;
    Lists expected;
};

const std::vector<ConfigCase>& configCases() {
    static const std::vector<ConfigCase> cases = {
        {"one line per domain",
         "user /u\nsystem /s\ncommon /c\ndynamic /d\ndefault /f\n",
         {{"/u"}, {"/s"}, {"/c"}, {"/d"}, {"/f"}}},
        {"file order within a domain, domains interleaved",
         "user /u2\ndefault /f1\nuser /u1\ndefault /f2\nuser /u3",
         {{"/u2", "/u1", "/u3"}, {}, {}, {}, {"/f1", "/f2"}}},
        {"comments and blank lines",
         "# user /no\n\nuser /yes\n#default /no\n\n\n",
         {{"/yes"}, {}, {}, {}, {}}},
        {"CRLF endings lose the carriage return",
         "user /a\r\ndefault /b\r\n\r\n",
         {{"/a"}, {}, {}, {}, {"/b"}}},
        {"the path is the rest of the line: spaces kept, tabs and runs separate",
         "user /with space/kc\ndefault\t/tabbed\nsystem    /many\n",
         {{"/with space/kc"}, {"/many"}, {}, {}, {"/tabbed"}}},
        {"unknown words, other cases, indented lines",
         "User /x\nusers /x\nlogin /x\n user /x\ndefault /ok\n",
         {{}, {}, {}, {}, {"/ok"}}},
        {"relative and missing paths",
         "user relative/kc\nuser ./kc\nuser ~/kc\nuser\nuser   \ndefault /abs\n",
         {{}, {}, {}, {}, {"/abs"}}},
        {"the same path twice stays twice", "user /a\nuser /a\n", {{"/a", "/a"}, {}, {}, {}, {}}},
        {"empty file", "", {{}, {}, {}, {}, {}}},
    };
    return cases;
}

class SearchListTest : public PlatformTest {};

TEST_F(SearchListTest, ConfigurationTable) {
    for (const auto& c : configCases()) {
        SCOPED_TRACE(c.what);
        kc.writeConfig(c.text);
        for (int index = 0; index < 5; ++index) {
            EXPECT_EQ(readList(index), c.expected[static_cast<std::size_t>(index)])
                << "list " << index;
        }
    }
}

TEST_F(SearchListTest, MissingFileGivesEmptyLists) {
    for (const std::string& config : {kc.root() + "/absent.conf", kc.root() + "/no/dir/x.conf"}) {
        kc.useConfig(config);
        for (int index = 0; index < 5; ++index) EXPECT_TRUE(readList(index).empty());
    }
}

TEST_F(SearchListTest, FileIsReadAnewOnEveryCall) {
    kc.writeConfig("user /first\n");
    EXPECT_EQ(readList(0), std::vector<std::string>{"/first"});
    kc.writeConfig("user /second\nuser /third\n");
    EXPECT_EQ(readList(0), (std::vector<std::string>{"/second", "/third"}));
}

TEST_F(SearchListTest, DomainsOutsideTheFourAndNullOutputsRefused) {
    Ref array = nullptr;
    for (int domain : {-1, 4, 5, 100}) {
        EXPECT_NE(sys().copyDomainSearchList(static_cast<PreferencesDomain>(domain), &array), kOk);
    }
    EXPECT_NE(sys().copyDomainSearchList(PreferencesDomain::User, nullptr), kOk);
    EXPECT_NE(sys().copyDefaultSearchList(nullptr), kOk);
}

// Path lengths around the 500-byte buffer, against buffers around the path's size:
// the path fits only with its terminator, and a refusal writes nothing.
TEST_F(SearchListTest, PathBufferRule) {
    const std::vector<std::size_t> lengths = {1, 2, 498, 499, 500, 501, 1000};
    std::string text;
    for (std::size_t n : lengths) text += "default /" + std::string(n - 1, 'p') + "\n";
    kc.writeConfig(text);
    Ref array = nullptr;
    ASSERT_EQ(sys().copyDefaultSearchList(&array), kOk);
    ASSERT_EQ(sys().arrayCount(array), static_cast<long>(lengths.size()));
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        std::size_t n = lengths[i];
        for (std::size_t size : {n - 1, n, n + 1, n + 2, std::size_t{500}}) {
            SCOPED_TRACE("path " + std::to_string(n) + " buffer " + std::to_string(size));
            std::vector<char> buffer(size + 8, '\x5a');
            auto length = static_cast<std::uint32_t>(size);
            Status status = sys().keychainPath(sys().arrayElement(array, static_cast<long>(i)),
                                               &length, buffer.data());
            if (n + 1 <= size) {
                EXPECT_EQ(status, kOk);
                EXPECT_EQ(length, n);
                EXPECT_EQ(std::string(buffer.data()), "/" + std::string(n - 1, 'p'));
                for (std::size_t b = n + 1; b < buffer.size(); ++b) ASSERT_EQ(buffer[b], '\x5a');
            } else {
                EXPECT_EQ(status, -25301);
                EXPECT_EQ(length, size);
                for (char b : buffer) ASSERT_EQ(b, '\x5a');
            }
        }
    }
    sys().release(array);
}

TEST_F(SearchListTest, ElementsAreBorrowedAndKeychainsCounted) {
    kc.writeConfig("user /a\nuser /b\n");
    Ref array = nullptr;
    ASSERT_EQ(sys().copyDomainSearchList(PreferencesDomain::User, &array), kOk);
    EXPECT_EQ(lp::liveObjects(), 3u);  // the array and its two keychains
    EXPECT_EQ(lp::referenceCount(array), 1);
    Ref first = sys().arrayElement(array, 0);
    EXPECT_EQ(lp::referenceCount(first), 1);
    EXPECT_EQ(sys().retain(first), first);
    EXPECT_EQ(lp::referenceCount(first), 2);
    sys().release(array);  // the retained keychain outlives its array
    EXPECT_EQ(lp::liveObjects(), 1u);
    char buffer[16];
    std::uint32_t length = sizeof buffer;
    EXPECT_EQ(sys().keychainPath(first, &length, buffer), kOk);
    EXPECT_STREQ(buffer, "/a");
    sys().release(first);
}

// Releases and retains of what is not live are counted and change nothing.
TEST_F(SearchListTest, StrayReferencesAreCountedNotFollowed) {
    kc.writeConfig("user /a\n");
    Ref array = nullptr;
    ASSERT_EQ(sys().copyDomainSearchList(PreferencesDomain::User, &array), kOk);
    Ref keychain = sys().arrayElement(array, 0);
    int local = 0;
    sys().release(array);
    // Freed objects, an address never handed out, and a keychain freed with its array.
    for (Ref stray : {array, keychain, static_cast<Ref>(&local)}) {
        sys().release(stray);
        EXPECT_EQ(sys().retain(stray), nullptr);
        std::uint32_t length = 8;
        char buffer[8];
        EXPECT_EQ(sys().keychainPath(stray, &length, buffer), -50);
        EXPECT_EQ(sys().arrayCount(stray), 0);
        EXPECT_EQ(lp::referenceCount(stray), 0);
    }
    expectedStray_ = 6;
}

}  // namespace
}  // namespace tarnel::testing
