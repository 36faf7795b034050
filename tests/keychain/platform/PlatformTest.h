// Shared by the Linux platform tests: the platform, a fixture that makes test
// keychains and fails any test that leaves an object alive or releases what is
// not live (unless the test says how many such releases it makes), and small
// readers of arrays, paths and identities.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Keychains.h"
#include "linux/LinuxPlatform.h"

namespace tarnel::testing {

namespace lp = tarnel::linux_platform;

inline Platform& sys() {
    return systemPlatform();
}

class PlatformTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(lp::liveObjects(), 0u);
        strayAtStart_ = lp::strayReleases();
    }
    void TearDown() override {
        EXPECT_EQ(lp::liveObjects(), 0u) << "objects left alive";
        EXPECT_EQ(lp::strayReleases() - strayAtStart_, expectedStray_) << "stray releases";
    }

    // Paths of a search-list array; the array is released.
    std::vector<std::string> pathsOf(Ref array) {
        std::vector<std::string> paths;
        for (long i = 0; i < sys().arrayCount(array); ++i) {
            char buffer[4096];
            std::uint32_t length = sizeof buffer;
            EXPECT_EQ(sys().keychainPath(sys().arrayElement(array, i), &length, buffer), kOk);
            paths.emplace_back(buffer, length);
        }
        sys().release(array);
        return paths;
    }

    // A retained keychain reference for `path`, taken from a one-line default list.
    Ref keychainAt(const std::string& path) {
        kc.writeConfig("default " + path + "\n");
        Ref list = nullptr;
        EXPECT_EQ(sys().copyDefaultSearchList(&list), kOk);
        Ref keychain = sys().retain(sys().arrayElement(list, 0));
        sys().release(list);
        return keychain;
    }

    // Every identity of the keychain at `path`, each retained once.
    std::vector<Ref> identitiesOf(const std::string& path) {
        std::vector<Ref> identities;
        Ref keychain = keychainAt(path);
        Ref search = nullptr;
        EXPECT_EQ(sys().createIdentitySearch(keychain, kKeyUseSign, &search), kOk);
        Ref identity = nullptr;
        while (search != nullptr && sys().copyNextIdentity(search, &identity) == kOk) {
            EXPECT_EQ(lp::referenceCount(identity), 1);
            identities.push_back(identity);
        }
        if (search != nullptr) {
            EXPECT_EQ(sys().copyNextIdentity(search, &identity), kItemNotFound);
            sys().release(search);
        }
        sys().release(keychain);
        return identities;
    }

    // The print name of an identity, read through its key.
    static std::string nameOf(Ref identity) {
        Ref key = nullptr;
        EXPECT_EQ(sys().copyPrivateKey(identity, &key), kOk);
        KeychainAttributeList* list = nullptr;
        std::string name;
        if (sys().copyKeyAttributes(key, 1, kAttributeFormatBlob, &list) == kOk) {
            EXPECT_EQ(list->count, 1u);
            name.assign(static_cast<const char*>(list->attr[0].data), list->attr[0].length);
            EXPECT_EQ(sys().freeKeyAttributes(list), kOk);
        }
        sys().release(key);
        return name;
    }

    static std::vector<std::string> namesOf(const std::vector<Ref>& identities) {
        std::vector<std::string> names;
        for (Ref identity : identities) names.push_back(nameOf(identity));
        return names;
    }

    static Bytes certificateOf(Ref identity) {
        Ref cert = nullptr;
        EXPECT_EQ(sys().copyCertificate(identity, &cert), kOk);
        CssmData data{};
        EXPECT_EQ(sys().certificateData(cert, &data), kOk);
        Bytes der(data.data, data.data + data.length);
        sys().release(cert);
        return der;
    }

    static void releaseAll(const std::vector<Ref>& refs) {
        for (Ref ref : refs) sys().release(ref);
    }

    Keychains kc;
    std::size_t expectedStray_ = 0;

  private:
    std::size_t strayAtStart_ = 0;
};

}  // namespace tarnel::testing
