// KeyChainLib.GetKeyChainList and GetKeyChain over configuration files and
// directory keychains made in the test.
#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "KeychainJvm.h"
#include "Keychains.h"

namespace kcn {
namespace {

using tarnel::testing::Keychains;

class KeyChainListTest : public KeychainTest {
  protected:
    // The paths of the array's elements, "<null>" for a null element.
    std::vector<std::string> paths(jobjectArray list) {
        std::vector<std::string> out;
        const jsize n = env->GetArrayLength(list);
        for (jsize i = 0; i < n; ++i) {
            jobject keyChain = env->GetObjectArrayElement(list, i);
            if (keyChain == nullptr) {
                out.push_back("<null>");
                continue;
            }
            jstring path = pathOf(keyChain);
            out.push_back(text(path));
            env->DeleteLocalRef(path);
            env->DeleteLocalRef(keyChain);
        }
        return out;
    }

    Keychains keychains;
};

TEST_F(KeyChainListTest, DomainsOutsideOneToFiveThrowInvalidDomainWithoutReadingAList) {
    keychains.writeConfig({{"user", keychains.dir("u")}, {"default", keychains.dir("d")}});
    for (jint domain : {0, 6, 7, -1, -5, 100, -25305, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(domain);
        forcing.clearCalls();
        EXPECT_EQ(getKeyChainList(domain), nullptr);
        expectThrown("KeyChainLib.GetKeyChainList", -25305, "Invalid Keychain Domain");
        EXPECT_EQ(forcing.count("copyDomainSearchList") + forcing.count("copyDefaultSearchList"),
                  0u);
    }
}

TEST_F(KeyChainListTest, EachDomainListsItsOwnLinesInFileOrder) {
    const std::string u1 = keychains.dir("u1"), u2 = keychains.dir("u2");
    const std::string s1 = keychains.dir("s1"), c1 = keychains.dir("c1");
    const std::string y1 = keychains.dir("y1"), y2 = keychains.dir("y2"), y3 = keychains.dir("y3");
    const std::string d1 = keychains.dir("d1"), d2 = keychains.dir("d2");
    keychains.writeConfig("# keychains of the test\n\nuser " + u2 + "\ndynamic " + y3 +
                          "\nsystem " + s1 + "\ndefault " + d2 + "\nuser " + u1 + "\ncommon " + c1 +
                          "\n  \n#default /nowhere\ndynamic " + y1 + "\ndefault " + d1 +
                          "\ndynamic " + y2 + "\n");
    struct Row {
        jint domain;
        std::vector<std::string> expected;
        int systemDomain;  // -1: the default search list
    };
    const Row rows[] = {
        {1, {u2, u1}, 0}, {2, {s1}, 1}, {3, {c1}, 2}, {4, {y3, y1, y2}, 3}, {5, {d2, d1}, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.domain);
        forcing.clearCalls();
        jobjectArray list = getKeyChainList(row.domain);
        expectNoException();
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(paths(list), row.expected);
        if (row.systemDomain < 0) {
            EXPECT_EQ(forcing.count("copyDefaultSearchList"), 1u);
            EXPECT_EQ(forcing.count("copyDomainSearchList"), 0u);
        } else {
            auto calls = forcing.callsOf("copyDomainSearchList");
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].domain, row.systemDomain);
        }
        env->DeleteLocalRef(list);
    }
}

TEST_F(KeyChainListTest, EmptyOrMissingListsGiveNullWithoutException) {
    keychains.writeConfig({{"user", keychains.dir("u")}});
    for (jint domain : {2, 3, 4, 5}) {
        SCOPED_TRACE(domain);
        EXPECT_EQ(getKeyChainList(domain), nullptr);
        expectNoException();
    }
    keychains.useConfig(keychains.root() + "/no-such.conf");
    for (jint domain : {1, 2, 3, 4, 5}) {
        SCOPED_TRACE(domain);
        EXPECT_EQ(getKeyChainList(domain), nullptr);
        expectNoException();
    }
}

TEST_F(KeyChainListTest, PathsOfFiveHundredBytesOrMoreAreNullElements) {
    const std::string before = keychains.dir("before"), after = keychains.dir("after");
    for (std::size_t length : {490u, 498u, 499u, 500u, 501u, 650u}) {
        SCOPED_TRACE(length);
        const std::string longPath = keychains.dirOfLength(length);
        ASSERT_EQ(longPath.size(), length);
        keychains.writeConfig(
            {{"default", before}, {"default", longPath}, {"default", after}, {"user", longPath}});
        const std::string expected = length < 500 ? longPath : "<null>";
        jobjectArray list = getKeyChainList(5);
        expectNoException();
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(paths(list), (std::vector<std::string>{before, expected, after}));
        env->DeleteLocalRef(list);
        list = getKeyChainList(1);
        expectNoException();
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(paths(list), std::vector<std::string>{expected});
        env->DeleteLocalRef(list);
    }
}

TEST_F(KeyChainListTest, GetKeyChainFindsOnlyExactPathsOfTheDefaultList) {
    const std::string first = keychains.dir("first"), second = keychains.dir("second");
    const std::string userOnly = keychains.dir("user-only");
    const std::string longPath = keychains.dirOfLength(520);
    keychains.writeConfig({{"default", first},
                           {"default", longPath},
                           {"default", second},
                           {"user", userOnly},
                           {"dynamic", userOnly}});
    const std::pair<std::string, bool> probes[] = {
        {first, true},        {second, true},
        {userOnly, false},  // not in the default search list
        {longPath, false},  // its path cannot be read
        {first + "/", false}, {first.substr(0, first.size() - 1), false},
        {first + "x", false}, {keychains.root() + "/nowhere", false},
        {"", false},          {"relative/first", false},
    };
    for (const auto& [path, found] : probes) {
        SCOPED_TRACE(path);
        forcing.clearCalls();
        jstring argument = str(path);
        jobject keyChain = getKeyChain(argument);
        expectNoException();
        EXPECT_EQ(forcing.count("copyDefaultSearchList"), 1u);
        if (!found) {
            EXPECT_EQ(keyChain, nullptr);
            env->DeleteLocalRef(argument);
            continue;
        }
        ASSERT_NE(keyChain, nullptr);
        jstring path2 = pathOf(keyChain);
        EXPECT_TRUE(env->IsSameObject(path2, argument)) << "m_sPath is not the argument";
        jclass cls = env->FindClass("zentrel/keychain/KeyChain");
        EXPECT_TRUE(env->IsInstanceOf(keyChain, cls));
        env->DeleteLocalRef(cls);
        env->DeleteLocalRef(path2);
        env->DeleteLocalRef(keyChain);
        env->DeleteLocalRef(argument);
    }
}

TEST_F(KeyChainListTest, GetKeyChainWithoutAnyListOrPath) {
    const std::string dir = keychains.dir("k");
    keychains.writeConfig({{"default", dir}});
    EXPECT_EQ(getKeyChain(nullptr), nullptr);
    expectNoException();
    EXPECT_EQ(getKeyChain(str(dir + "\xc0\x80")), nullptr);  // a NUL inside: not the path
    expectNoException();
    keychains.useConfig(keychains.root() + "/no-such.conf");
    EXPECT_EQ(getKeyChain(str(dir)), nullptr);
    expectNoException();
}

}  // namespace
}  // namespace kcn
