// What the Windows tests share: file names of the test programs' folder, the
// bridge's load method driven through the fake JNIEnv, and entry points of
// the loaded test module.
#pragma once

#include <windows.h>

#include <string>

#include "FakeJni.h"
#include "jni_methods.h"
#include "kelmora.h"

namespace wintest {

// The full file name of a loaded module (the test program for null).
inline std::string moduleFileName(HMODULE module) {
    std::string name(32768, '\0');
    const DWORD length = GetModuleFileNameA(module, &name[0], static_cast<DWORD>(name.size()));
    name.resize(length);
    return name;
}

// The folder of the test program, where the DLLs are built too.
inline std::string programFolder() {
    const std::string self = moduleFileName(nullptr);
    return self.substr(0, self.find_last_of("\\/"));
}

inline std::string besideProgram(const char* file) {
    return programFolder() + "\\" + file;
}

// loadCryptokiLibrary2 as Java calls it; the failure, if any, stays pending
// in jni.
inline void loadThroughJava(FakeJni& jni, const std::string& name, bool freeLib = true) {
    jclass cls = reinterpret_cast<jclass>(jni.newObject("qorvik/nat/NativeCryptoki"));
    Java_qorvik_nat_NativeCryptoki_loadCryptokiLibrary2(jni.env(), cls, jni.newString(name),
                                                        freeLib ? JNI_TRUE : JNI_FALSE);
}

// An entry point of the module the bridge loaded last.
template <typename Function>
Function mockEntry(const char* name) {
    FARPROC entry = GetProcAddress(static_cast<HMODULE>(hLibModule), name);
    return reinterpret_cast<Function>(reinterpret_cast<void*>(entry));
}

// The system's text for an error code, as FormatMessageA gives it.
inline std::string systemText(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result(text != nullptr ? text : "", length);
    if (text != nullptr) LocalFree(text);
    return result;
}

}  // namespace wintest
