// The choice of the loaded image a bare module name refers to on macOS, over
// made-up image lists: order by load address, one entry per address, first
// path containing the name.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ImageList.h"

namespace {

using platform::LoadedImage;

struct Case {
    const char* title;
    std::vector<LoadedImage> images;  // as dyld would list them
    const char* sModule;
    std::vector<LoadedImage> byAddress;  // the order names are matched in
    std::uintptr_t chosenAddress;        // 0: no image is chosen
    const char* chosenPath;
    bool listedOrderMatters;  // several entries share an address
};

constexpr std::uintptr_t kTop = UINTPTR_MAX - 0xfff;

const std::vector<Case>& cases() {
    static const std::vector<Case> table = {
        {"unsorted addresses",
         {{0x3000, "/usr/lib/libz.1.dylib"},
          {0x1000, "/Applications/Tool.app/Contents/MacOS/tool"},
          {0x2000, "/opt/tokens/libtok.dylib"}},
         "libtok",
         {{0x1000, "/Applications/Tool.app/Contents/MacOS/tool"},
          {0x2000, "/opt/tokens/libtok.dylib"},
          {0x3000, "/usr/lib/libz.1.dylib"}},
         0x2000,
         "/opt/tokens/libtok.dylib",
         false},
        {"first by address wins over first listed",
         {{0x9000, "/a/libp11.dylib"}, {0x4000, "/b/libp11.dylib"}},
         "libp11.dylib",
         {{0x4000, "/b/libp11.dylib"}, {0x9000, "/a/libp11.dylib"}},
         0x4000,
         "/b/libp11.dylib",
         false},
        {"addresses compare unsigned",
         {{kTop, "/high/libtok.dylib"}, {0x1000, "/low/libtok.dylib"}},
         "libtok",
         {{0x1000, "/low/libtok.dylib"}, {kTop, "/high/libtok.dylib"}},
         0x1000,
         "/low/libtok.dylib",
         false},
        {"name inside a longer file name",
         {{0x2000, "/usr/lib/libt.dylib"}, {0x1000, "/usr/lib/xlibt.dylib.1"}},
         "libt.dylib",
         {{0x1000, "/usr/lib/xlibt.dylib.1"}, {0x2000, "/usr/lib/libt.dylib"}},
         0x1000,
         "/usr/lib/xlibt.dylib.1",
         false},
        {"name inside a directory name",
         {{0x1000, "/usr/lib/libsystem_c.dylib"}, {0x2000, "/opt/libtok/bin/helper.dylib"}},
         "libtok",
         {{0x1000, "/usr/lib/libsystem_c.dylib"}, {0x2000, "/opt/libtok/bin/helper.dylib"}},
         0x2000,
         "/opt/libtok/bin/helper.dylib",
         false},
        {"no match",
         {{0x2000, "/usr/lib/libz.1.dylib"}, {0x1000, "/usr/lib/libc++.1.dylib"}},
         "libtok.dylib",
         {{0x1000, "/usr/lib/libc++.1.dylib"}, {0x2000, "/usr/lib/libz.1.dylib"}},
         0,
         nullptr,
         false},
        {"match is case-sensitive",
         {{0x1000, "/opt/tokens/libtok.dylib"}},
         "LibTok",
         {{0x1000, "/opt/tokens/libtok.dylib"}},
         0,
         nullptr,
         false},
        {"longer name than any path",
         {{0x1000, "/l"}},
         "/l/libtok.dylib",
         {{0x1000, "/l"}},
         0,
         nullptr,
         false},
        {"empty list", {}, "libtok.dylib", {}, 0, nullptr, false},
        {"same path at two addresses stays twice",
         {{0x7000, "/l/libm.dylib"}, {0x1000, "/main"}, {0x3000, "/l/libm.dylib"}},
         "libm",
         {{0x1000, "/main"}, {0x3000, "/l/libm.dylib"}, {0x7000, "/l/libm.dylib"}},
         0x3000,
         "/l/libm.dylib",
         false},
        {"one entry per address: the first listed",
         {{0x5000, "/x/first-libq.dylib"}, {0x1000, "/main"}, {0x5000, "/y/second-libq.dylib"}},
         "libq",
         {{0x1000, "/main"}, {0x5000, "/x/first-libq.dylib"}},
         0x5000,
         "/x/first-libq.dylib",
         true},
        {"a dropped duplicate is never matched",
         {{0x5000, "/x/libother.dylib"}, {0x5000, "/y/libq.dylib"}, {0x6000, "/z/libq.dylib"}},
         "libq",
         {{0x5000, "/x/libother.dylib"}, {0x6000, "/z/libq.dylib"}},
         0x6000,
         "/z/libq.dylib",
         true},
        {"the same entry listed twice",
         {{0x2000, "/lib/a.dylib"}, {0x2000, "/lib/a.dylib"}, {0x1000, "/main"}},
         "a.dylib",
         {{0x1000, "/main"}, {0x2000, "/lib/a.dylib"}},
         0x2000,
         "/lib/a.dylib",
         false},
        {"entries without a header or a name are dropped",
         {{0, "/ghost/libtok.dylib"}, {0x2000, nullptr}, {0x3000, "/real/libtok.dylib"}},
         "libtok",
         {{0x3000, "/real/libtok.dylib"}},
         0x3000,
         "/real/libtok.dylib",
         false},
        {"a nameless entry does not hide a named one at its address",
         {{0x2000, nullptr}, {0x2000, "/lib/libtok.dylib"}},
         "libtok",
         {{0x2000, "/lib/libtok.dylib"}},
         0x2000,
         "/lib/libtok.dylib",
         false},
    };
    return table;
}

std::string describe(const std::vector<LoadedImage>& images) {
    std::string text;
    for (const LoadedImage& image : images) {
        text +=
            std::to_string(image.loadAddress) + ' ' + (image.path ? image.path : "(null)") + '\n';
    }
    return text;
}

void expectChoice(const Case& c, const std::vector<LoadedImage>& listed) {
    SCOPED_TRACE(describe(listed));
    const std::vector<LoadedImage> byAddress = platform::imagesByAddress(listed);
    EXPECT_EQ(describe(byAddress), describe(c.byAddress));

    const LoadedImage* chosen = platform::firstImageNaming(byAddress, c.sModule);
    char* path = platform::modulePathAmongImages(listed, c.sModule);
    if (c.chosenPath == nullptr) {
        EXPECT_EQ(chosen, nullptr);
        EXPECT_EQ(path, nullptr);
    } else {
        ASSERT_NE(chosen, nullptr);
        EXPECT_EQ(chosen->loadAddress, c.chosenAddress);
        ASSERT_NE(path, nullptr);
        EXPECT_STREQ(path, c.chosenPath);
        // A copy of its own, which the caller frees: never dyld's text.
        for (const LoadedImage& image : listed) EXPECT_NE(path, image.path);
    }
    std::free(path);
}

TEST(ImageSelection, TableInListedOrder) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.title);
        expectChoice(c, c.images);
    }
}

// Apart from entries sharing an address, the order dyld lists images in must
// not change the outcome: every case again in every order of its entries.
TEST(ImageSelection, TableInEveryListedOrder) {
    int orders = 0;
    for (const Case& c : cases()) {
        if (c.listedOrderMatters) continue;
        SCOPED_TRACE(c.title);
        std::vector<std::size_t> order(c.images.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        do {
            std::vector<LoadedImage> listed;
            for (std::size_t i : order) listed.push_back(c.images[i]);
            expectChoice(c, listed);
            ++orders;
        } while (std::next_permutation(order.begin(), order.end()));
    }
    EXPECT_GT(orders, static_cast<int>(cases().size()));
}

// Long lists (past the sizes a sort handles by simple insertion), many entries
// per address, some without an address or a path: per address the first
// listed entry with both survives, and the name picks the lowest such address.
// The expectation comes from a map filled in listed order.
TEST(ImageSelection, LongListsSweep) {
    std::uint32_t seed = 12345;
    auto next = [&seed](std::uint32_t bound) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % bound;
    };
    int lists = 0;
    for (std::size_t size : {17u, 40u, 100u, 333u}) {
        for (std::uint32_t addresses : {3u, 16u, 64u}) {
            std::vector<std::string> paths;
            paths.reserve(size);
            std::vector<LoadedImage> listed;
            for (std::size_t i = 0; i < size; ++i) {
                const std::uint32_t pick = next(10);
                paths.push_back("/lib/entry" + std::to_string(i) + (pick < 3 ? "-libtok" : "") +
                                ".dylib");
                const std::uintptr_t address = pick == 9 ? 0 : (next(addresses) + 1) * 0x1000;
                listed.push_back({address, pick == 8 ? nullptr : paths.back().c_str()});
            }
            std::map<std::uintptr_t, const char*> firstListed;
            for (const LoadedImage& image : listed) {
                if (image.loadAddress != 0 && image.path != nullptr) {
                    firstListed.emplace(image.loadAddress, image.path);
                }
            }
            std::vector<LoadedImage> expected;
            const char* expectedPath = nullptr;
            for (const auto& [address, path] : firstListed) {
                expected.push_back({address, path});
                if (expectedPath == nullptr && std::strstr(path, "-libtok") != nullptr) {
                    expectedPath = path;
                }
            }
            SCOPED_TRACE("size " + std::to_string(size) + ", addresses " +
                         std::to_string(addresses));
            EXPECT_EQ(describe(platform::imagesByAddress(listed)), describe(expected));
            char* path = platform::modulePathAmongImages(listed, "-libtok");
            if (expectedPath == nullptr) {
                EXPECT_EQ(path, nullptr);
            } else {
                EXPECT_STREQ(path, expectedPath);
            }
            std::free(path);
            ++lists;
        }
    }
    EXPECT_EQ(lists, 12);
}

}  // namespace
