// Fuzz target: the conversions of attribute arrays and mechanisms, inside a
// real JVM. The input chooses attribute types, value classes (the accepted
// ones, null, and classes the bridge must refuse), lengths and contents;
// mechanism types with parameter objects of every parameter class, their
// fields filled from the input (nulls and odd sizes included), or objects of
// the wrong class. Each input is converted directly and the result read the
// way a module reads it (every byte of every buffer at the length stated,
// the output buffers written), then handed to the exported methods so it
// reaches the test module, whose failure must carry the conversion's text.
#include <dlfcn.h>
#include <jni.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "AttributeFuzz.h"
#include "FuzzCheck.h"
#include "FuzzJvm.h"
#include "MechanismFuzz.h"
#include "jni_methods.h"
#include "kelmora.h"
#include "p11mock.h"

#ifndef KELVANE_FUZZ_CLASSPATH
#define KELVANE_FUZZ_CLASSPATH ""
#endif
#ifndef KELVANE_FUZZ_MODULE
#define KELVANE_FUZZ_MODULE ""
#endif

namespace fuzz {
namespace {

struct Module {
    void* handle = nullptr;
    decltype(&::p11mock_reset) reset = nullptr;
    decltype(&::p11mock_add_object) addObject = nullptr;
    decltype(&::p11mock_log_last) logLast = nullptr;
    decltype(&::p11mock_log_buffer) logBuffer = nullptr;
    decltype(&::p11mock_report_len_next) reportLenNext = nullptr;
    decltype(&::p11mock_buffer_too_small_next) tooSmallNext = nullptr;
};
Module mock;
jobject cryptoki = nullptr;

template <typename F>
F symbol(const char* name) {
    void* p = dlsym(mock.handle, name);
    FUZZ_CHECK(p != nullptr);
    return reinterpret_cast<F>(p);
}

// Whatever a method left pending: it must be a CryptokiException. Returns
// its function name and message, cleared.
struct Reported {
    std::string function;
    jint code = 0;
    std::string message;
};
std::optional<Reported> takeReported() {
    jthrowable pending = env->ExceptionOccurred();
    if (pending == nullptr) return std::nullopt;
    env->ExceptionClear();
    if (!env->IsInstanceOf(pending, c.cryptokiException)) {
        env->Throw(pending);
        env->ExceptionDescribe();
        FUZZ_CHECK(!"a method left an exception other than CryptokiException pending");
    }
    Reported r;
    jstring function = static_cast<jstring>(ok(env->CallObjectMethod(pending, c.getFunctionName)));
    jstring message = static_cast<jstring>(ok(env->CallObjectMethod(pending, c.getMessage)));
    r.code = ok(env->CallIntMethod(pending, c.getCode));
    FUZZ_CHECK(!env->ExceptionCheck());
    r.function = utf(function);
    r.message = utf(message);
    env->DeleteLocalRef(function);
    env->DeleteLocalRef(message);
    env->DeleteLocalRef(pending);
    return r;
}

// A conversion failure is reported under the method's name, with its text.
void expectOutcome(const char* function, const std::optional<Reported>& reported,
                   const std::optional<std::string>& templateFailure,
                   const std::optional<std::string>& mechanismFailure) {
    if (!templateFailure && !mechanismFailure) {
        // The module may refuse what it got, but the bridge's report is whole.
        if (reported) {
            FUZZ_CHECK(reported->function == function);
            FUZZ_CHECK(reported->code != 0);
        }
        return;
    }
    FUZZ_CHECK(reported.has_value());
    FUZZ_CHECK(reported->function == function);
    const bool matches = (templateFailure && reported->message == *templateFailure) ||
                         (mechanismFailure && reported->message == *mechanismFailure);
    if (!matches) {
        std::fprintf(stderr, "%s reported '%s' (code %d); conversions said '%s' / '%s'\n", function,
                     reported->message.c_str(), static_cast<int>(reported->code),
                     templateFailure ? templateFailure->c_str() : "-",
                     mechanismFailure ? mechanismFailure->c_str() : "-");
    }
    FUZZ_CHECK(matches);
}

void appendUlong(std::vector<uint8_t>& out, CK_ULONG value) {
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), p, p + sizeof value);
}

// The template the module was handed by the last call of fn, as the module
// logs it ([type][length][value bytes] per entry), is what the Java array says.
void expectTemplateReached(const char* fn, const AttributeInput& input) {
    std::vector<uint8_t> expected;
    for (const Element& element : input.elements) {
        const Value& v = element.value;
        std::vector<uint8_t> value;
        switch (v.kind) {
            case ValueKind::kInteger:
                appendUlong(value, widened(v.integer));
                break;
            case ValueKind::kBoolean:
                value.push_back(v.flag ? CK_TRUE : CK_FALSE);
                break;
            case ValueKind::kBytes:
                value = v.bytes;
                break;
            case ValueKind::kString:
                value = standardUtf8(v.text);
                break;
            default:
                break;
        }
        appendUlong(expected, widened(element.type));
        appendUlong(expected, value.size());
        expected.insert(expected.end(), value.begin(), value.end());
    }
    const long call = mock.logLast(fn);
    FUZZ_CHECK(call >= 0);
    const unsigned char* logged = nullptr;
    const std::size_t length = mock.logBuffer(static_cast<std::size_t>(call), 0, &logged);
    FUZZ_CHECK(length == expected.size());
    FUZZ_CHECK(length == 0 || std::memcmp(logged, expected.data(), length) == 0);
}

// Makes the module's next answer of fn lie about a length or a count: more
// than it wrote, or "too small" with a length of its choosing.
void armModule(Bytes& in, const char* fn) {
    static const CK_ULONG kLengths[] = {0,
                                        1,
                                        7,
                                        8,
                                        9,
                                        50,
                                        51,
                                        2047,
                                        2048,
                                        2049,
                                        65536,
                                        0x7FFFFFFFul,
                                        0x80000000ul,
                                        0xFFFFFFFFul,
                                        CK_ULONG(1) << 40,
                                        CK_UNAVAILABLE_INFORMATION};
    const uint8_t pick = in.u8();
    if (pick < 128) return;
    const CK_ULONG length = in.u8() < 200 ? kLengths[in.below(sizeof kLengths / sizeof kLengths[0])]
                                          : static_cast<CK_ULONG>(in.u32());
    if (pick < 192) {
        mock.reportLenNext(fn, length);
    } else {
        mock.tooSmallNext(fn, length);
    }
}

jobject openSession() {
    CK_SESSION_HANDLE handle = 0;
    FUZZ_CHECK(functionList->C_OpenSession(1, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                                           &handle) == CKR_OK);
    jobject slot = ok(env->NewObject(c.nativeSlot, c.slotCtor, 1));
    jobject session =
        ok(env->NewObject(c.nativeSession, c.sessionCtor, slot, static_cast<jint>(handle)));
    FUZZ_CHECK(session != nullptr);
    env->DeleteLocalRef(slot);
    return session;
}

CK_OBJECT_HANDLE addKey() {
    CK_OBJECT_CLASS keyClass = CKO_SECRET_KEY;
    CK_KEY_TYPE keyType = CKK_GENERIC_SECRET;
    CK_BBOOL yes = CK_TRUE;
    CK_BYTE value[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    CK_ATTRIBUTE key[] = {{CKA_CLASS, &keyClass, sizeof keyClass},
                          {CKA_KEY_TYPE, &keyType, sizeof keyType},
                          {CKA_DERIVE, &yes, 1},
                          {CKA_SIGN, &yes, 1},
                          {CKA_VALUE, value, sizeof value}};
    return mock.addObject(key, sizeof key / sizeof key[0]);
}

jintArray typeArray(Bytes& in) {
    const jsize count = in.u8() % 6;
    std::vector<jint> types(static_cast<std::size_t>(count));
    for (jint& t : types) t = attributeType(in);
    jintArray array = env->NewIntArray(count);
    if (count > 0) env->SetIntArrayRegion(array, 0, count, types.data());
    return array;
}

void throughTheModule(Bytes& in, const AttributeInput& attributes,
                      const std::optional<std::string>& templateFailure,
                      const MechanismInput& mechanism,
                      const std::optional<std::string>& mechanismFailure) {
    mock.reset();
    const CK_OBJECT_HANDLE key = addKey();
    jobject session = openSession();
    jlong sessionHandle = Session2CKSession(env, session);
    const std::optional<std::string> none;
    int method = in.u8() % 8;
    // The test module makes a key of whatever CKA_VALUE_LEN asks for: gigabytes
    // are a cost of that module, not of the bridge.
    if (method == 4 || method == 5) {
        for (const Element& element : attributes.elements) {
            const Value& v = element.value;
            // Bytes or text are read by the module as a length too.
            const bool small =
                v.kind == ValueKind::kNull ||
                (v.kind == ValueKind::kInteger && static_cast<uint32_t>(v.integer) <= 0x10000) ||
                (v.kind == ValueKind::kBoolean);
            if (element.present && widened(element.type) == CKA_VALUE_LEN && !small) {
                method = 6;
            }
        }
    }
    switch (method) {
        case 0:
            Java_qorvik_nat_NativeSession_J_1CreateObject(env, session, attributes.array);
            expectOutcome("J_CreateObject", takeReported(), templateFailure, none);
            if (!templateFailure) expectTemplateReached("C_CreateObject", attributes);
            break;
        case 1: {
            armModule(in, "C_FindObjects");
            jlongArray found = Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2(
                env, session, attributes.array);
            expectOutcome("J_FindObjects", takeReported(), templateFailure, none);
            if (!templateFailure) expectTemplateReached("C_FindObjectsInit", attributes);
            if (found != nullptr) env->DeleteLocalRef(found);
            break;
        }
        case 2: {
            jintArray types = typeArray(in);
            armModule(in, in.flag() ? "C_FindObjects" : "C_GetAttributeValue");
            jobjectArray found =
                Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2_3I(
                    env, session, attributes.array, types);
            expectOutcome("J_FindObjects", takeReported(), templateFailure, none);
            if (found != nullptr) env->DeleteLocalRef(found);
            env->DeleteLocalRef(types);
            break;
        }
        case 3:
            Java_qorvik_nat_NativeSession_J_1SetAttributeValue(
                env, session, static_cast<jlong>(key), attributes.array);
            expectOutcome("J_SetAttributeValue", takeReported(), templateFailure, none);
            break;
        case 4:
            Java_qorvik_nat_NativeSession_J_1GenerateKey(env, session, mechanism.mechanism,
                                                         attributes.array);
            expectOutcome("J_GenerateKey", takeReported(), templateFailure, mechanismFailure);
            break;
        case 5:
            Java_qorvik_nat_NativeSession_J_1DeriveKey(env, session, mechanism.mechanism,
                                                       static_cast<jlong>(key), attributes.array);
            expectOutcome("J_DeriveKey", takeReported(), templateFailure, mechanismFailure);
            break;
        case 6:
            Java_qorvik_nat_NativeSession_J_1SignInit(env, session, sessionHandle,
                                                      mechanism.mechanism, static_cast<jlong>(key));
            expectOutcome("J_SignInit", takeReported(), none, mechanismFailure);
            break;
        case 7: {
            // Read back through the module: one value per type asked for, or a failure.
            jintArray types = typeArray(in);
            armModule(in, "C_GetAttributeValue");
            jobjectArray values = Java_qorvik_nat_NativeSession_J_1GetAttributeValue__J_3I(
                env, session, static_cast<jlong>(key), types);
            const std::optional<Reported> reported = takeReported();
            if (reported) {
                FUZZ_CHECK(reported->function == "J_GetAttributeValue" && reported->code != 0);
            } else {
                FUZZ_CHECK(values != nullptr &&
                           env->GetArrayLength(values) == env->GetArrayLength(types));
            }
            if (values != nullptr) env->DeleteLocalRef(values);
            env->DeleteLocalRef(types);
            break;
        }
    }
    functionList->C_CloseAllSessions(1);
    env->DeleteLocalRef(session);
}

}  // namespace
}  // namespace fuzz

using namespace fuzz;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* classPath = std::getenv("KELVANE_FUZZ_CLASSPATH");
    const char* module = std::getenv("KELVANE_FUZZ_MODULE");
    if (classPath == nullptr) classPath = KELVANE_FUZZ_CLASSPATH;
    if (module == nullptr) module = KELVANE_FUZZ_MODULE;
    env = fuzz::startJvm(classPath);
    lookUpClasses();

    // The control interface of the very instance the bridge loads.
    mock.handle = dlopen(module, RTLD_NOW | RTLD_LOCAL);
    if (mock.handle == nullptr) {
        std::fprintf(stderr, "fuzz: cannot open the test module %s: %s\n", module, dlerror());
        std::abort();
    }
    mock.reset = symbol<decltype(mock.reset)>("p11mock_reset");
    mock.addObject = symbol<decltype(mock.addObject)>("p11mock_add_object");
    mock.logLast = symbol<decltype(mock.logLast)>("p11mock_log_last");
    mock.logBuffer = symbol<decltype(mock.logBuffer)>("p11mock_log_buffer");
    mock.reportLenNext = symbol<decltype(mock.reportLenNext)>("p11mock_report_len_next");
    mock.tooSmallNext = symbol<decltype(mock.tooSmallNext)>("p11mock_buffer_too_small_next");

    jstring name = ok(env->NewStringUTF(module));
    Java_qorvik_nat_NativeCryptoki_loadCryptokiLibrary2(env, c.nativeCryptoki, name, JNI_TRUE);
    FUZZ_CHECK(!takeReported());
    cryptoki = env->NewGlobalRef(ok(env->AllocObject(c.nativeCryptoki)));
    Java_qorvik_nat_NativeCryptoki_Initialize(env, cryptoki, nullptr);
    FUZZ_CHECK(!takeReported());
    env->DeleteLocalRef(name);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Bytes in(data, size);
    // Every reference an input makes goes with its frame.
    FUZZ_CHECK(env->PushLocalFrame(512) == 0);
    const AttributeInput attributes = makeAttributes(in);
    const MechanismInput mechanism = makeMechanism(in);
    const std::optional<std::string> templateFailure = convertAttributes(attributes);
    const std::optional<std::string> mechanismFailure = convertMechanism(mechanism);
    throughTheModule(in, attributes, templateFailure, mechanism, mechanismFailure);
    moduleAnswers(in);
    FUZZ_CHECK(!env->ExceptionCheck());
    env->PopLocalFrame(nullptr);
    return 0;
}
