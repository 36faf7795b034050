// Loading the Windows build of the test module: LoadLibraryExA, the system's
// failure text, the full path from GetModuleFileNameA (paths longer than the
// first buffer included), the signature-family lookup, Finalize forgetting
// the handle, and the read buffer.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FakeJni.h"
#include "WinTestSupport.h"
#include "convert/AttributeTemplate.h"

namespace {

using wintest::besideProgram;
using wintest::loadThroughJava;
using wintest::moduleFileName;

const char kPlain[] = P11MOCK_DLL_NAME;
const char kQuarnsig[] = P11MOCK_QUARNSIG_DLL_NAME;

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string lastLoadedPath(FakeJni& jni) {
    jstring path = Java_qorvik_nat_NativeCryptoki_getLastLoadedLibraryFullPath(jni.env(), nullptr);
    return path != nullptr ? FakeJni::of(path).text : "<null>";
}

struct NameCase {
    const char* what;
    std::string name;
    const char* file;
    bool signatureFamily;
};

TEST(WindowsLoader, FullPathOfModuleLoadedByAnyName) {
    const NameCase cases[] = {
        {"full path", besideProgram(kPlain), kPlain, false},
        {"bare name", kPlain, kPlain, false},
        {"full path, signature family", besideProgram(kQuarnsig), kQuarnsig, true},
        {"bare name in capitals, signature family", upper(kQuarnsig), kQuarnsig, true},
        {"bare name, signature family", kQuarnsig, kQuarnsig, true},
    };
    for (const NameCase& c : cases) {
        FakeJni jni;
        loadThroughJava(jni, c.name);
        ASSERT_FALSE(jni.hasThrown()) << c.what << ": " << jni.thrown().message;
        const HMODULE module = GetModuleHandleA(c.file);
        ASSERT_NE(module, nullptr) << c.what;
        EXPECT_EQ(hLibModule, static_cast<void*>(module)) << c.what;
        EXPECT_NE(functionList, nullptr) << c.what;
        EXPECT_STREQ(sLibName, c.name.c_str()) << c.what;
        EXPECT_EQ(std::string(sLibFullPath), moduleFileName(module)) << c.what;
        // The file system here ignores case; the name's case may be the caller's.
        EXPECT_EQ(upper(sLibFullPath), upper(besideProgram(c.file))) << c.what;
        EXPECT_EQ(lastLoadedPath(jni), moduleFileName(module)) << c.what;
        void* const setCallBack = reinterpret_cast<void*>(GetProcAddress(module, "C_SetCallBack"));
        EXPECT_EQ(setCallBack != nullptr, c.signatureFamily) << c.what;
        EXPECT_EQ(reinterpret_cast<void*>(pC_SetCallBack), setCallBack) << c.what;
        EXPECT_EQ(jni.stringCharsHeld(), 0);
        EXPECT_EQ(jni.unexpectedCalls(), 0);
    }
}

TEST(WindowsLoader, MissingModuleGivesTheSystemsText) {
    FakeJni first;
    loadThroughJava(first, besideProgram(kPlain));
    ASSERT_FALSE(first.hasThrown());
    const std::string previousPath = sLibFullPath;

    const std::string names[] = {besideProgram("no-such-module.dll"), "no-such-module.dll"};
    for (const std::string& name : names) {
        FakeJni jni;
        loadThroughJava(jni, name);
        ASSERT_TRUE(jni.hasThrown()) << name;
        const std::string text = wintest::systemText(ERROR_MOD_NOT_FOUND);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(jni.thrown().function, "loadCryptokiLibrary");
        EXPECT_EQ(jni.thrown().code, 5);
        EXPECT_EQ(jni.thrown().message, "error loading pkcs#11 library: " + text) << name;
        EXPECT_EQ(hLibModule, nullptr);
        EXPECT_EQ(functionList, nullptr);
        // A failed load keeps the name and path of the last good one.
        EXPECT_STREQ(sLibName, besideProgram(kPlain).c_str());
        EXPECT_EQ(std::string(sLibFullPath), previousPath);
        EXPECT_EQ(jni.stringCharsHeld(), 0);
    }
}

TEST(WindowsLoader, ModuleWithoutGetFunctionListStaysLoaded) {
    // The bridge itself is a DLL without C_GetFunctionList.
    FakeJni jni;
    loadThroughJava(jni, besideProgram("kelvane.dll"));
    ASSERT_TRUE(jni.hasThrown());
    EXPECT_EQ(jni.thrown().function, "loadCryptokiLibrary");
    EXPECT_EQ(jni.thrown().message, "C_GetFunctionList function not found in pkcs#11 library");
    EXPECT_NE(hLibModule, nullptr);
    EXPECT_EQ(hLibModule, static_cast<void*>(GetModuleHandleA("kelvane.dll")));
    EXPECT_EQ(functionList, nullptr);
}

TEST(WindowsLoader, FinalizeForgetsTheHandleWithoutUnloading) {
    FakeJni jni;
    loadThroughJava(jni, besideProgram(kPlain));  // unloads whatever was loaded before
    ASSERT_EQ(GetModuleHandleA(kQuarnsig), nullptr);

    loadThroughJava(jni, besideProgram(kQuarnsig));
    Java_qorvik_nat_NativeCryptoki_Initialize(jni.env(), nullptr, nullptr);
    ASSERT_FALSE(jni.hasThrown()) << jni.thrown().message;
    ASSERT_TRUE(bInitialized);
    Java_qorvik_nat_NativeCryptoki_Finalize(jni.env(), nullptr, nullptr);
    ASSERT_FALSE(jni.hasThrown()) << jni.thrown().message;
    EXPECT_EQ(hLibModule, nullptr);
    EXPECT_EQ(functionList, nullptr);
    EXPECT_FALSE(bInitialized);

    // Still mapped, with the one reference the load took.
    const HMODULE still = GetModuleHandleA(kQuarnsig);
    ASSERT_NE(still, nullptr);
    FreeLibrary(still);
    EXPECT_EQ(GetModuleHandleA(kQuarnsig), nullptr);
}

TEST(WindowsLoader, LoadWithFreeLibUnloadsThePreviousModule) {
    FakeJni jni;
    loadThroughJava(jni, besideProgram(kQuarnsig));
    ASSERT_NE(GetModuleHandleA(kQuarnsig), nullptr);
    loadThroughJava(jni, besideProgram(kPlain), true);
    EXPECT_EQ(GetModuleHandleA(kQuarnsig), nullptr);
    EXPECT_EQ(pC_SetCallBack, nullptr);
}

TEST(WindowsLoader, GetInfoVersionAndReadBuffer) {
    EXPECT_EQ(libVersion.major, 1);
    EXPECT_EQ(libVersion.minor, 3);
    struct {
        CK_ATTRIBUTE_TYPE type;
        CK_ULONG primed;
    } const reads[] = {
        {CKA_VALUE, 3072},
        {CKA_LABEL, 3072},
        {CKA_MODULUS, 3072},
        {CKA_VENDOR_DEFINED, 3072},
        {CKA_ALWAYS_AUTHENTICATE, 3072},
        {CKA_TOKEN, 1},
        {CKA_SIGN, 1},
        {CKA_CLASS, 4},
        {CKA_MODULUS_BITS, 4},
    };
    for (const auto& r : reads) {
        CK_ATTRIBUTE attribute{r.type, nullptr, 0};
        resetAttributeLen(&attribute);
        EXPECT_EQ(attribute.ulValueLen, r.primed) << std::hex << r.type;
    }
}

// ---- Paths longer than the first buffer --------------------------------------

std::wstring widen(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

// A copy of the test module whose full path is exactly `length` characters,
// loaded through the wide API (the narrow one stops at MAX_PATH).
class DeepModule {
  public:
    DeepModule(const std::string& root, std::size_t length) {
        const std::string file = "\\p11mock-deep-" + std::to_string(length) + ".dll";
        std::string dir = root;
        makeDirectory(dir);
        while (dir.size() + file.size() < length) {
            const std::size_t room = length - dir.size() - file.size();
            // A component is at least one character after its separator.
            std::size_t take = room > 121 ? 120 : room - 1;
            if (room - (take + 1) == 1) --take;  // never leave a gap of one
            dir += "\\" + std::string(take, 'd');
            makeDirectory(dir);
        }
        path_ = dir + file;
        CopyFileW((L"\\\\?\\" + widen(besideProgram(P11MOCK_DLL_NAME))).c_str(),
                  (L"\\\\?\\" + widen(path_)).c_str(), FALSE);
        module_ = LoadLibraryW((L"\\\\?\\" + widen(path_)).c_str());
    }
    ~DeepModule() {
        if (module_ != nullptr) FreeLibrary(module_);
        DeleteFileW((L"\\\\?\\" + widen(path_)).c_str());
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
            RemoveDirectoryW((L"\\\\?\\" + widen(*it)).c_str());
        }
    }
    DeepModule(const DeepModule&) = delete;
    DeepModule& operator=(const DeepModule&) = delete;

    HMODULE module() const { return module_; }
    const std::string& path() const { return path_; }
    std::string fileName() const { return path_.substr(path_.find_last_of('\\') + 1); }

  private:
    void makeDirectory(const std::string& dir) {
        if (CreateDirectoryW((L"\\\\?\\" + widen(dir)).c_str(), nullptr)) made_.push_back(dir);
    }

    std::string path_;
    HMODULE module_ = nullptr;
    std::vector<std::string> made_;
};

std::string scratchRoot() {
    char temp[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof temp, temp);
    std::string root(temp, n);
    if (!root.empty() && root.back() == '\\') root.pop_back();
    return root + "\\kelvane-paths-" + std::to_string(GetCurrentProcessId());
}

TEST(WindowsModulePath, GrowsTheBufferForLongPaths) {
    const std::string root = scratchRoot();
    // Around the first buffer (256 + 1), its double and beyond.
    const std::size_t lengths[] = {120, 254, 255, 256, 257, 258, 300, 512, 513, 514, 1030, 2100};
    for (std::size_t length : lengths) {
        if (length < root.size() + 30) continue;
        DeepModule deep(root, length);
        ASSERT_NE(deep.module(), nullptr) << deep.path();
        const std::string expected = moduleFileName(deep.module());
        ASSERT_GE(expected.size(), length) << "the system reports the whole path";

        char* path = getmodulepath(deep.module(), nullptr);
        ASSERT_NE(path, nullptr) << length;
        EXPECT_EQ(std::string(path), expected) << length;
        std::free(path);
    }
}

TEST(WindowsModulePath, LoadByBareNameOfAModuleInADeepFolder) {
    DeepModule deep(scratchRoot(), 300);
    ASSERT_NE(deep.module(), nullptr);
    FakeJni jni;
    // Already mapped: the bare name finds that module.
    loadThroughJava(jni, deep.fileName());
    ASSERT_FALSE(jni.hasThrown()) << jni.thrown().message;
    EXPECT_EQ(hLibModule, static_cast<void*>(deep.module()));
    EXPECT_GT(std::strlen(sLibFullPath), 256u);
    EXPECT_EQ(std::string(sLibFullPath), moduleFileName(deep.module()));
    EXPECT_EQ(lastLoadedPath(jni), std::string(sLibFullPath));
    // The bridge's own reference goes with the next load.
    loadThroughJava(jni, besideProgram(kPlain));
}

TEST(WindowsModulePath, NullHandleIsTheProgramAndAnUnknownOneFails) {
    char* self = getmodulepath(nullptr, nullptr);
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(std::string(self), moduleFileName(nullptr));
    std::free(self);

    // No module at this address: nothing is returned.
    static char notAModule[64];
    EXPECT_EQ(getmodulepath(notAModule, nullptr), nullptr);
}

}  // namespace
