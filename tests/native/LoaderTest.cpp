// Loading modules: state after each outcome, full paths, the side file and
// the signature-family entry point.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "BridgeTest.h"

namespace fs = std::filesystem;

namespace kt {
namespace {

// A private directory holding copies of the test modules: a copy is a module
// of its own (own state, own side file, own mapping).
class TempDir {
  public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "kelvane-loader-XXXXXX").string();
        path_ = mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    fs::path copy(const std::string& from, const std::string& name) const {
        fs::path to = path_ / name;
        fs::copy_file(from, to, fs::copy_options::overwrite_existing);
        return to;
    }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ / name, std::ios::binary) << text;
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

bool mapped(const fs::path& module) {
    void* h = dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h != nullptr) dlclose(h);
    return h != nullptr;
}

// Reads the control interface of a module copy that the bridge has loaded.
int copyIsInitialized(const fs::path& module) {
    void* h = dlopen(module.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h == nullptr) return -1;
    auto fn = reinterpret_cast<int (*)()>(dlsym(h, "p11mock_is_initialized"));
    const int state = fn ? fn() : -1;
    dlclose(h);
    return state;
}

class LoaderTest : public BridgeTest {
  protected:
    std::string fullPath() {
        jstring s = Java_qorvik_nat_NativeCryptoki_getLastLoadedLibraryFullPath(env, cryptokiClass);
        expectNoException();
        return javaString(s);
    }
    void loadExpectingFailure(jstring name) {
        Java_qorvik_nat_NativeCryptoki_loadCryptokiLibrary(env, cryptokiClass, name);
    }
};

TEST_F(LoaderTest, AbsoluteNameIsItsOwnFullPath) {
    EXPECT_EQ(fullPath(), "") << "empty before any load";
    load(plainMock().path(), true);
    EXPECT_EQ(fullPath(), plainMock().path());
    EXPECT_STREQ(sLibName, plainMock().path().c_str());
    EXPECT_EQ(freeLibrary, 1);
    EXPECT_NE(functionList, nullptr);
    EXPECT_FALSE(bInitialized);
    EXPECT_TRUE(g_bIsSecondAuthenticationRequired);
}

TEST_F(LoaderTest, LoadVariantsRecordTheFreeChoice) {
    load(plainMock().path(), false);
    EXPECT_EQ(freeLibrary, 0);
    Java_qorvik_nat_NativeCryptoki_loadCryptokiLibrary3(env, cryptokiClass, str(plainMock().path()),
                                                        JNI_TRUE, JNI_TRUE);
    expectNoException();
    EXPECT_EQ(freeLibrary, 1);
    Java_qorvik_nat_NativeCryptoki_loadCryptokiLibrary3(env, cryptokiClass, str(plainMock().path()),
                                                        JNI_FALSE, JNI_TRUE);
    expectNoException();
    EXPECT_EQ(freeLibrary, 0);
}

TEST_F(LoaderTest, BareNameFullPathComesFromTheMemoryMap) {
    // The test environment puts the module's directory on LD_LIBRARY_PATH.
    const std::string bare = fs::path(plainMock().path()).filename();
    load(bare);
    EXPECT_STREQ(sLibName, bare.c_str());
    EXPECT_EQ(fs::canonical(fullPath()), fs::canonical(plainMock().path()));
}

TEST_F(LoaderTest, BareNameOfAModuleOutsideTheDefaultPath) {
    const char* softhsmDir = std::getenv("KELVANE_SOFTHSM_DIR");
    if (softhsmDir == nullptr) GTEST_SKIP() << "SoftHSM2 directory not given";
    load("libsofthsm2.so");
    EXPECT_EQ(fs::canonical(fullPath()), fs::canonical(fs::path(softhsmDir) / "libsofthsm2.so"));
}

TEST(ModulePath, FirstMapLineContainingTheNameWinsEvenInsideALongerName) {
    const Mock& q = quarnsigMock();
    char* path = getmodulepath(nullptr, "11mock-quarn");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(fs::canonical(path), fs::canonical(q.path()));
    std::free(path);
    EXPECT_EQ(getmodulepath(nullptr, "no-module-has-this-name.so"), nullptr);
    char* absolute = getmodulepath(nullptr, "/any/absolute/name.so");
    ASSERT_NE(absolute, nullptr);
    EXPECT_STREQ(absolute, "/any/absolute/name.so");
    std::free(absolute);
}

TEST(ModulePath, LongPathsAreNeverCut) {
    // A directory name long enough that a map line spans several reads.
    TempDir dir;
    const fs::path deep = dir.path() / std::string(180, 'd') / std::string(180, 'e');
    fs::create_directories(deep);
    const fs::path module = deep / "libkelvane-longpath-probe.so";
    fs::copy_file(plainMock().path(), module);
    void* h = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr);
    char* path = getmodulepath(nullptr, "libkelvane-longpath-probe.so");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(std::string(path), module.string());
    std::free(path);
    dlclose(h);
}

TEST_F(LoaderTest, NullNameFinalisesThePreviousModuleThenFails) {
    loadAndInitialize(plainMock());
    void* previous = hLibModule;
    loadExpectingFailure(nullptr);
    expectFailure("loadCryptokiLibrary", 5, "No cryptoki library specified");
    EXPECT_EQ(plainMock().p11mock_is_initialized(), 0) << "C_Finalize called on the old module";
    EXPECT_EQ(functionList, nullptr);
    EXPECT_FALSE(bInitialized);
    EXPECT_EQ(hLibModule, previous) << "the old module stays loaded";
    EXPECT_STREQ(sLibName, plainMock().path().c_str());
}

TEST_F(LoaderTest, UnopenableModuleReportsTheSystemText) {
    load(plainMock().path());
    loadExpectingFailure(str("/nonexistent/dir/libnothing.so"));
    auto t = takeException();
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->function, "loadCryptokiLibrary");
    EXPECT_EQ(t->code, 5);
    EXPECT_EQ(t->message.rfind("error loading pkcs#11 library: ", 0), 0u) << t->message;
    EXPECT_NE(t->message.find("/nonexistent/dir/libnothing.so"), std::string::npos);
    EXPECT_EQ(hLibModule, nullptr);
    EXPECT_EQ(functionList, nullptr);
    EXPECT_STREQ(sLibName, plainMock().path().c_str()) << "name kept after a failed load";
    EXPECT_EQ(fullPath(), plainMock().path()) << "path kept after a failed load";
}

TEST_F(LoaderTest, ModuleWithoutGetFunctionList) {
    const char* bridge = std::getenv("KELVANE_LIBRARY");
    ASSERT_NE(bridge, nullptr);
    loadExpectingFailure(str(bridge));
    expectFailure("loadCryptokiLibrary", 5,
                  "C_GetFunctionList function not found in pkcs#11 library");
    EXPECT_NE(hLibModule, nullptr) << "the new module stays loaded";
    EXPECT_EQ(functionList, nullptr);
    EXPECT_STREQ(sLibName, "");
}

TEST_F(LoaderTest, FailingGetFunctionListReportsItsCode) {
    plainMock().p11mock_fail_next("C_GetFunctionList", CKR_HOST_MEMORY);
    loadExpectingFailure(str(plainMock().path()));
    expectRv("loadCryptokiLibrary", CKR_HOST_MEMORY);
    EXPECT_EQ(functionList, nullptr);
    EXPECT_NE(hLibModule, nullptr);
}

TEST_F(LoaderTest, OverlongNameIsRefusedBeforeTouchingAnything) {
    loadAndInitialize(plainMock());
    CK_FUNCTION_LIST_PTR list = functionList;
    loadExpectingFailure(str(std::string(1024, 'a')));
    expectFailure("loadCryptokiLibrary", 5, "cryptoki library name too long");
    EXPECT_TRUE(bInitialized);
    EXPECT_EQ(functionList, list);
    EXPECT_EQ(plainMock().p11mock_is_initialized(), 1) << "old module not finalised";
    EXPECT_STREQ(sLibName, plainMock().path().c_str());

    // One byte shorter fits and is tried.
    loadExpectingFailure(str("/" + std::string(1022, 'a')));
    auto t = takeException();
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->message.rfind("error loading pkcs#11 library", 0), 0u) << t->message;
}

TEST_F(LoaderTest, SideFileDecidesTheSecondAuthentication) {
    TempDir dir;
    const fs::path module = dir.copy(plainMock().path(), "libsidefile.so");
    const std::string conf = "libsidefile.so.conf";
    struct Case {
        std::string text;
        bool required;
    } cases[] = {
        {"DsPinIsCNSPin=true", false},
        {"# signer PIN\nDsPinIsCNSPin=true\n", false},
        {"DsPinIsCNSPin=TRUE", true},
        {"dspiniscnspin=true", true},
        {"DsPinIsCNSPin = true", true},
        {"DsPinIsCNSPin=false", true},
        {"", true},
    };
    for (const Case& c : cases) {
        dir.write(conf, c.text);
        load(module.string());
        EXPECT_EQ(g_bIsSecondAuthenticationRequired, c.required) << "'" << c.text << "'";
        EXPECT_EQ(Java_qorvik_nat_NativeCryptoki_IsSecondAuthenticationRequired(env, cryptoki),
                  c.required ? JNI_TRUE : JNI_FALSE);
    }
    dir.write(conf, "DsPinIsCNSPin=true");
    load(module.string());
    ASSERT_FALSE(g_bIsSecondAuthenticationRequired);
    fs::remove(dir.path() / conf);
    load(module.string());
    EXPECT_TRUE(g_bIsSecondAuthenticationRequired) << "no side file: required again";
}

TEST_F(LoaderTest, SignatureFamilyModulesHaveTheirCallbackEntryLookedUp) {
    load(quarnsigMock().path());
    void* own =
        dlsym(dlopen(quarnsigMock().path().c_str(), RTLD_NOW | RTLD_NOLOAD), "C_SetCallBack");
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(pC_SetCallBack), own);

    load(plainMock().path());
    EXPECT_EQ(pC_SetCallBack, nullptr) << "cleared for a module outside the family";

    TempDir dir;
    load(dir.copy(quarnsigMock().path(), "libCard-QuarnSig-Mixed.so").string());
    EXPECT_NE(pC_SetCallBack, nullptr) << "the token matches in any case";
    load(dir.copy(plainMock().path(), "libQUARNSIG-without-entry.so").string());
    EXPECT_EQ(pC_SetCallBack, nullptr) << "family name, but no entry point";
    load(dir.copy(quarnsigMock().path(), "libvendor-other.so").string());
    EXPECT_EQ(pC_SetCallBack, nullptr) << "entry point, but not of the family";
}

TEST_F(LoaderTest, LoadWithoutFreeKeepsTheOldModuleMappedButFinalisesIt) {
    TempDir dir;
    const fs::path a = dir.copy(plainMock().path(), "libkeep-a.so");
    const fs::path b = dir.copy(plainMock().path(), "libkeep-b.so");
    load(a.string(), false);
    initialize();
    ASSERT_EQ(copyIsInitialized(a), 1);
    load(b.string(), false);
    EXPECT_TRUE(mapped(a));
    EXPECT_EQ(copyIsInitialized(a), 0) << "finalised through its function list";
    EXPECT_TRUE(mapped(b));
    load(b.string(), false);
    EXPECT_TRUE(mapped(b));
}

TEST_F(LoaderTest, LoadWithFreeUnloadsTheOldModule) {
    TempDir dir;
    const fs::path a = dir.copy(plainMock().path(), "libfree-a.so");
    const fs::path b = dir.copy(plainMock().path(), "libfree-b.so");
    load(a.string(), true);
    load(b.string(), true);
    EXPECT_FALSE(mapped(a));
    EXPECT_TRUE(mapped(b));
}

TEST_F(LoaderTest, LoadingWhileInitialisedNeedsANewInitialize) {
    loadAndInitialize(plainMock());
    load(quarnsigMock().path());
    EXPECT_EQ(plainMock().p11mock_is_initialized(), 0);
    EXPECT_FALSE(bInitialized);
    Java_qorvik_nat_NativeCryptoki_GetInfo(env, cryptoki);
    expectRv("J_GetInfo", CKR_CRYPTOKI_NOT_INITIALIZED);
    initialize();
    EXPECT_EQ(quarnsigMock().p11mock_is_initialized(), 1);
}

TEST_F(LoaderTest, FailedLoadLeavesTheRememberedModuleForInitialize) {
    load(plainMock().path());
    loadExpectingFailure(str("/nonexistent/libgone.so"));
    ASSERT_TRUE(takeException().has_value());
    initialize();
    EXPECT_TRUE(bInitialized);
    EXPECT_EQ(plainMock().p11mock_is_initialized(), 1);
    EXPECT_EQ(fullPath(), plainMock().path());
}

TEST_F(LoaderTest, NoFullPathFoundLeavesItEmpty) {
    load(plainMock().path());
    ASSERT_NE(fullPath(), "");
    // Loaded through a link of another name: no map line names the link.
    TempDir dir;
    const fs::path target = dir.copy(plainMock().path(), "libtarget-real.so");
    fs::create_symlink(target, dir.path() / "liblinkname.so");
    const fs::path relative = fs::relative(dir.path() / "liblinkname.so", fs::current_path());
    ASSERT_NE(relative.string()[0], '/');
    load(relative.string());
    EXPECT_EQ(fullPath(), "");
}

}  // namespace
}  // namespace kt
