// Turning failures into the pending CryptokiException, the 32-bit range
// check and the trace hook.
#include <climits>
#include <cstring>

#include "../Errors.h"
#include "../kelmora.h"
#include "JniGuards.h"

extern "C" {
const char* g_sLogPath = platform::kTraceFilePath;
}

const char* const kLengthLargerThanBuffer = "Module returned a length larger than the buffer";
const char* const kLengthBeyondJavaArray =
    "Module returned a length larger than a Java array can hold";
const char* const kSearchTooLarge = "Module returned more objects than a search can hold";

namespace {

// new String(bytes): the bytes are decoded with the JVM's default charset.
jstring stringFromBytes(JNIEnv* env, jclass stringClass, jmethodID ctor, const char* text) {
    const jsize len = static_cast<jsize>(std::strlen(text));
    LocalRef<jbyteArray> bytes(env, env->NewByteArray(len));
    if (!bytes) return nullptr;
    env->SetByteArrayRegion(bytes.get(), 0, len, reinterpret_cast<const jbyte*>(text));
    return static_cast<jstring>(env->NewObject(stringClass, ctor, bytes.get()));
}

void throwCryptokiException(JNIEnv* env, const char* functionName, jint code, const char* message) {
    // A failed lookup leaves its own Java error pending; the CryptokiException
    // is what the caller must see, and JNI calls are undefined until cleared.
    if (env->ExceptionCheck()) env->ExceptionClear();
    if (functionName == nullptr) functionName = "";
    if (message == nullptr) message = "";

    LocalRef<jclass> excClass(env, env->FindClass("qorvik/CryptokiException"));
    if (!excClass) return;
    LocalRef<jclass> stringClass(env, env->FindClass("java/lang/String"));
    if (!stringClass) return;
    jmethodID excCtor =
        env->GetMethodID(excClass.get(), "<init>", "(Ljava/lang/String;ILjava/lang/String;)V");
    if (excCtor == nullptr) return;
    jmethodID stringCtor = env->GetMethodID(stringClass.get(), "<init>", "([B)V");
    if (stringCtor == nullptr) return;

    LocalRef<jstring> jName(env, stringFromBytes(env, stringClass.get(), stringCtor, functionName));
    if (!jName) return;
    LocalRef<jstring> jMessage(env, stringFromBytes(env, stringClass.get(), stringCtor, message));
    if (!jMessage) return;
    LocalRef<jthrowable> exc(env, static_cast<jthrowable>(env->NewObject(
                                      excClass.get(), excCtor, jName.get(), code, jMessage.get())));
    if (!exc) return;
    env->Throw(exc.get());
}

}  // namespace

void throwPkcs11Exception(JNIEnv* env, const char* FunctionName, const char* Message) {
    throwCryptokiException(env, FunctionName, static_cast<jint>(CKR_GENERAL_ERROR), Message);
}

void throwPkcs11Exception(JNIEnv* env, const char* FunctionName, CK_RV Rv) {
    LogFunction("throwPkcs11Exception - Rv: entering...", Rv);
    // Vendor codes keep their low 32 bits and so arrive as negative ints.
    const jint code = static_cast<jint>(static_cast<uint32_t>(Rv & 0xFFFFFFFFu));
    LogFunction("throwPkcs11Exception - Rv: before env->Throw", Rv);
    throwCryptokiException(env, FunctionName, code, getCryptokiErrorDesc(Rv));
}

extern "C" {

const char* getCryptokiErrorDesc(CK_RV Error) {
    if (Error >= CKR_VENDOR_DEFINED) Error = CKR_VENDOR_DEFINED;
    const ErrorDesc* entry = errorDescriptions;
    while (entry->Value != Error && entry->Value != 0xFFFFFFFFul) ++entry;
    return entry->Descr;
}


void LogFunction(const char*, CK_RV, ...) {}

void traceString(JNIEnv* env, const char* FieldName, const char* message) {
    // Runs under a caller's boundary handler: each failed step raises.
    LocalRef<jclass> printStream(env,
                                 findClass(env, "java/io/PrintStream",
                                           "traceString - Class 'java/io/PrintStream' not found"));
    LocalRef<jclass> system(env, findClass(env, "java/lang/System",
                                           "traceString - Class 'java/lang/System' not found"));
    LocalRef<jstring> name(
        env, require(env, env->NewStringUTF(FieldName), "traceString - Name is NULL"));
    LocalRef<jstring> sep(env, require(env, env->NewStringUTF(" - "), "traceString - Sep is NULL"));
    LocalRef<jstring> msg(
        env, require(env, env->NewStringUTF(message), "traceString - Message is NULL"));
    jfieldID outField = env->GetStaticFieldID(system.get(), "out", "Ljava/io/PrintStream;");
    if (outField == nullptr) {
        env->ExceptionClear();
        fail("traceString - out filed not found");
    }
    LocalRef<jobject> out(env, require(env, env->GetStaticObjectField(system.get(), outField),
                                       "traceString - PrintStreamObject is NULL"));
    jmethodID println = findMethod(env, printStream.get(), "println", "(Ljava/lang/String;)V",
                                   "traceString - println method not found");
    jmethodID print = findMethod(env, printStream.get(), "print", "(Ljava/lang/String;)V",
                                 "traceString - print method not found");
    env->CallVoidMethod(out.get(), print, name.get());
    if (env->ExceptionCheck()) throw AlreadyReported{};
    env->CallVoidMethod(out.get(), print, sep.get());
    if (env->ExceptionCheck()) throw AlreadyReported{};
    env->CallVoidMethod(out.get(), println, msg.get());
}

void EspandiDati(const unsigned char* in, char* ou, long len) {
    static const char kHex[] = "0123456789ABCDEF";
    for (long i = 0; i < len; ++i) {
        *ou++ = kHex[in[i] >> 4];
        *ou++ = kHex[in[i] & 0x0F];
    }
    *ou = '\0';
}

void rmTrailSpace(unsigned char* str, unsigned int len) {
    for (unsigned int i = len; i-- > 1;) {
        if (str[i] != ' ') break;
        str[i] = '\0';
    }
}

}  // extern "C"

CK_FUNCTION_LIST_PTR requireModule() {
    if (!moduleInitialized()) fail(static_cast<CK_RV>(CKR_CRYPTOKI_NOT_INITIALIZED));
    return functionList;
}

namespace {
thread_local const char* t_currentMethod = nullptr;
}

const char* currentMethodName() {
    return t_currentMethod;
}

void setCurrentMethodName(const char* name) {
    t_currentMethod = name;
}

void requireJavaArrayLength(CK_ULONG length) {
    if (length > static_cast<CK_ULONG>(INT32_MAX)) fail(kLengthBeyondJavaArray);
}

void checkReportedLength(CK_ULONG reported, CK_ULONG capacity) {
    if (reported > capacity) fail(kLengthLargerThanBuffer);
}
