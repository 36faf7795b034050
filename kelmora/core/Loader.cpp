// Loading the module: the load methods, the loader behind them and the side
// configuration file.
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "../jni_methods.h"
#include "../kelmora.h"
#include "JniGuards.h"
#include "Platform.h"

namespace {

// Holds the text of the last load failure; a failure points into it until the
// next load.
char loadFailureText[512];

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using CString = std::unique_ptr<char, FreeDeleter>;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

bool containsSignatureFamilyToken(const char* library) {
    CString lower(strdup(library));
    if (!lower) return false;
    for (char* p = lower.get(); *p != '\0'; ++p) {
        *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    }
    LogFunction("loadLibrary : lowercase cryptoki library: %s", 0, lower.get());
    return std::strstr(lower.get(), "quarnsig") != nullptr;
}

// The side file sits next to the module: its full path plus ".conf".
void readSideFile(const char* modulePath) {
    std::string name = std::string(modulePath) + ".conf";
    struct stat info;
    if (stat(name.c_str(), &info) != 0) {
        LogFunction("stat for %s FAILED errno=%d", 0, name.c_str(), errno);
        return;
    }
    LogFunction("stat for %s SUCCESS: size = %d bytes", 0, name.c_str(),
                static_cast<int>(info.st_size));
    std::unique_ptr<FILE, FileCloser> file(std::fopen(name.c_str(), "rb"));
    if (!file) return;
    const size_t size = info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0;
    std::unique_ptr<char[]> text(new (std::nothrow) char[size + 1]);
    if (!text) return;
    const size_t got = std::fread(text.get(), 1, size, file.get());
    text[got] = '\0';
    LogFunction("File content: %s", 0, text.get());
    g_bIsSecondAuthenticationRequired =
        !platform::sidefileDisablesSecondAuthentication(text.get(), got);
    LogFunction("g_bIsSecondAuthenticationRequired set to: %d", 0,
                g_bIsSecondAuthenticationRequired ? 1 : 0);
}

void loadFromJava(JNIEnv* env, jstring cryptokiLibrary, jboolean freeLib, jboolean changedir) {
    LogFunction("loadCryptokiLibrary : entering...", 0);
    guardedVoid(env, "loadCryptokiLibrary", [&] {
        UtfChars name(env, cryptokiLibrary);
        const int freeFlag = freeLib ? 1 : 0;
        loadLibrary(name.get(), freeFlag, changedir ? 1 : 0);
        // loadLibrary refuses names that do not fit, so the copy is whole.
        std::snprintf(sLibName, sizeof sLibName, "%s", name.get());
        freeLibrary = freeFlag;
    });
    LogFunction("loadCryptokiLibrary : ...finished.", 0);
}

}  // namespace

extern "C" void loadLibrary(const char* library, int freeLib, int) {
    // Checked first, so a refused name leaves every piece of state as it was.
    if (library != nullptr && std::strlen(library) >= sizeof sLibName) {
        fail("cryptoki library name too long");
    }

    if (functionList != nullptr) functionList->C_Finalize(NULL_PTR);
    functionList = nullptr;
    bInitialized = CK_FALSE;
    // Never keep an entry point of a module that may be unloaded below.
    pC_SetCallBack = nullptr;

    if (library == nullptr) fail("No cryptoki library specified");
    LogFunction("loadLibrary : cryptoki library: %s", 0, library);

    if (hLibModule != nullptr && freeLib) platform::closeModule(hLibModule);
    hLibModule = nullptr;

    char reason[sizeof loadFailureText];
    hLibModule = platform::openModule(library, reason, sizeof reason);
    if (hLibModule == nullptr) {
        if (reason[0] != '\0') {
            // The system's text is cut to fit the buffer.
            static const char kPrefix[] = "error loading pkcs#11 library: ";
            std::snprintf(loadFailureText, sizeof loadFailureText, "%s%.*s", kPrefix,
                          static_cast<int>(sizeof loadFailureText - sizeof kPrefix), reason);
        } else {
            std::snprintf(loadFailureText, sizeof loadFailureText, "error loading pkcs#11 library");
        }
        fail(loadFailureText);
    }

    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(
        platform::findSymbol(hLibModule, "C_GetFunctionList"));
    if (getFunctionList == nullptr) fail("C_GetFunctionList function not found in pkcs#11 library");

    if (containsSignatureFamilyToken(library)) {
        LogFunction("loadLibrary - searchig C_SetCallback function", 0);
        pC_SetCallBack =
            reinterpret_cast<CK_C_SetCallBack>(platform::findSymbol(hLibModule, "C_SetCallBack"));
        if (pC_SetCallBack != nullptr)
            LogFunction(platform::kFoundSetCallBackTrace, 0);
    }

    CK_FUNCTION_LIST_PTR list = nullptr;
    const CK_RV rv = getFunctionList(&list);
    if (rv != CKR_OK) fail(rv);
    if (list == nullptr) fail(static_cast<CK_RV>(CKR_GENERAL_ERROR));
    functionList = list;

    g_bIsSecondAuthenticationRequired = true;

    CString path(getmodulepath(hLibModule, library));
    std::snprintf(sLibFullPath, sizeof sLibFullPath, "%s", path ? path.get() : "");
    LogFunction("getmodulepath returned %s", 0, sLibFullPath);
    if (path) readSideFile(path.get());
}

extern "C" {

JNIEXPORT void JNICALL Java_qorvik_nat_NativeCryptoki_loadCryptokiLibrary(JNIEnv* env, jclass,
                                                                          jstring cryptokiLibrary) {
    loadFromJava(env, cryptokiLibrary, JNI_TRUE, JNI_FALSE);
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeCryptoki_loadCryptokiLibrary2(JNIEnv* env, jclass,
                                                                           jstring cryptokiLibrary,
                                                                           jboolean freeLib) {
    loadFromJava(env, cryptokiLibrary, freeLib, JNI_FALSE);
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeCryptoki_loadCryptokiLibrary3(JNIEnv* env, jclass,
                                                                           jstring cryptokiLibrary,
                                                                           jboolean freeLib,
                                                                           jboolean changedir) {
    loadFromJava(env, cryptokiLibrary, freeLib, changedir);
}

JNIEXPORT jstring JNICALL Java_qorvik_nat_NativeCryptoki_getLastLoadedLibraryFullPath(JNIEnv* env,
                                                                                      jclass) {
    LogFunction("getLastLoadedLibraryFullPath : entering...", 0);
    jstring path = env->NewStringUTF(sLibFullPath);
    LogFunction("getLastLoadedLibraryFullPath : ...finished.", 0);
    return path;
}

}  // extern "C"
