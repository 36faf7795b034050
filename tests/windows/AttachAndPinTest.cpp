// The attach routine and GetPIN with the store already filled (no dialog).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "WinTestSupport.h"
#include "win/ModuleInstance.h"

namespace {

TEST(WindowsAttach, SucceedsForEveryReasonAndRecordsTheInstance) {
    // The test program stands in for the DLL: it carries the same resources.
    const HINSTANCE self = GetModuleHandleA(nullptr);
    ASSERT_EQ(DllMain(self, DLL_PROCESS_ATTACH, nullptr), TRUE);
    EXPECT_EQ(platform::moduleInstance(), self);
    const DWORD reasons[] = {DLL_PROCESS_DETACH, DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH,
                             DLL_THREAD_DETACH};
    for (DWORD reason : reasons) {
        EXPECT_EQ(DllMain(self, reason, nullptr), TRUE) << reason;
        EXPECT_EQ(platform::moduleInstance(), self) << "after reason " << reason;
    }
}

TEST(WindowsAttach, TheDllRecordsItsOwnInstance) {
    // Loaded for real: the system runs the attach routine; the DLL's
    // resources are found through the handle it recorded.
    const HMODULE dll = LoadLibraryA(wintest::besideProgram("kelvane.dll").c_str());
    ASSERT_NE(dll, nullptr);
    EXPECT_NE(FindResourceA(dll, MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(5)), nullptr)
        << "dialog 101";
    EXPECT_NE(FindResourceA(dll, MAKEINTRESOURCEA(102), MAKEINTRESOURCEA(2)), nullptr)
        << "bitmap 102";
    FreeLibrary(dll);
}

TEST(WindowsGetPin, FilledStoreIsHandedOverWithoutDialog) {
    for (std::size_t length = 1; length <= 19; ++length) {
        std::memset(g_SignerPin, 0, sizeof g_SignerPin);
        std::string pin;
        for (std::size_t i = 0; i < length; ++i) pin += static_cast<char>('0' + (i * 7) % 10);
        std::memcpy(g_SignerPin, pin.data(), length);

        CK_ULONG reported = 0xDEAD;
        ASSERT_EQ(GetPIN(nullptr, &reported), CKR_OK);
        EXPECT_EQ(reported, length);

        unsigned char buffer[32];
        std::memset(buffer, 0xEE, sizeof buffer);
        reported = 0xDEAD;
        ASSERT_EQ(GetPIN(buffer, &reported), CKR_OK);
        EXPECT_EQ(reported, length);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), length), pin);
        EXPECT_EQ(buffer[length], 0xEE) << "no terminator is written";
        // The store keeps the PIN for later requests.
        EXPECT_EQ(std::memcmp(g_SignerPin, pin.data(), length), 0);
    }
    std::memset(g_SignerPin, 0, sizeof g_SignerPin);
}

TEST(WindowsGetPin, StoreWithoutTerminatorHandsOverNineteenBytes) {
    std::memset(g_SignerPin, '7', sizeof g_SignerPin);
    CK_ULONG reported = 0;
    ASSERT_EQ(GetPIN(nullptr, &reported), CKR_OK);
    EXPECT_EQ(reported, 19u);
    std::memset(g_SignerPin, 0, sizeof g_SignerPin);
}

}  // namespace
