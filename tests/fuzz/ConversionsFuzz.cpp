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

#include "FuzzCheck.h"
#include "FuzzJvm.h"
#include "convert/AttributeTemplate.h"
#include "convert/Mechanism.h"
#include "jni_methods.h"
#include "kelmora.h"
#include "p11mock.h"

#ifndef KELVANE_FUZZ_CLASSPATH
#define KELVANE_FUZZ_CLASSPATH ""
#endif
#ifndef KELVANE_FUZZ_MODULE
#define KELVANE_FUZZ_MODULE ""
#endif

namespace {

using fuzz::Bytes;

JNIEnv* env = nullptr;

// ---- Java classes the harness builds values of --------------------------------

struct Classes {
    jclass attribute, mechanism, integer, boolean, longClass, string, object, date, bytes, chars,
        ints, classClass, field, cryptokiException, nativeSlot, nativeSession, nativeCryptoki;
    jmethodID attributeCtor, mechanismCtor, integerValueOf, booleanValueOf, longValueOf, objectCtor,
        dateCtor, getFields, getModifiers, getName, getType, className, slotCtor, sessionCtor,
        getFunctionName, getCode, getMessage, intValue, booleanValue;
};
Classes c;

jclass globalClass(const char* path) {
    jclass local = env->FindClass(path);
    FUZZ_CHECK(local != nullptr);
    jclass global = static_cast<jclass>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
    return global;
}

jmethodID method(jclass cls, const char* name, const char* sig) {
    jmethodID id = env->GetMethodID(cls, name, sig);
    FUZZ_CHECK(id != nullptr);
    return id;
}

jmethodID staticMethod(jclass cls, const char* name, const char* sig) {
    jmethodID id = env->GetStaticMethodID(cls, name, sig);
    FUZZ_CHECK(id != nullptr);
    return id;
}

void lookUpClasses() {
    c.attribute = globalClass("qorvik/Attribute");
    c.mechanism = globalClass("qorvik/Mechanism");
    c.integer = globalClass("java/lang/Integer");
    c.boolean = globalClass("java/lang/Boolean");
    c.longClass = globalClass("java/lang/Long");
    c.string = globalClass("java/lang/String");
    c.object = globalClass("java/lang/Object");
    c.date = globalClass("java/util/Date");
    c.bytes = globalClass("[B");
    c.chars = globalClass("[C");
    c.ints = globalClass("[I");
    c.classClass = globalClass("java/lang/Class");
    c.field = globalClass("java/lang/reflect/Field");
    c.cryptokiException = globalClass("qorvik/CryptokiException");
    c.nativeSlot = globalClass("qorvik/nat/NativeSlot");
    c.nativeSession = globalClass("qorvik/nat/NativeSession");
    c.nativeCryptoki = globalClass("qorvik/nat/NativeCryptoki");
    c.attributeCtor = method(c.attribute, "<init>", "(ILjava/lang/Object;)V");
    c.mechanismCtor = method(c.mechanism, "<init>", "(ILjava/lang/Object;)V");
    c.integerValueOf = staticMethod(c.integer, "valueOf", "(I)Ljava/lang/Integer;");
    c.booleanValueOf = staticMethod(c.boolean, "valueOf", "(Z)Ljava/lang/Boolean;");
    c.longValueOf = staticMethod(c.longClass, "valueOf", "(J)Ljava/lang/Long;");
    c.objectCtor = method(c.object, "<init>", "()V");
    c.dateCtor = method(c.date, "<init>", "(J)V");
    c.getFields = method(c.classClass, "getFields", "()[Ljava/lang/reflect/Field;");
    c.className = method(c.classClass, "getName", "()Ljava/lang/String;");
    c.getModifiers = method(c.field, "getModifiers", "()I");
    c.getName = method(c.field, "getName", "()Ljava/lang/String;");
    c.getType = method(c.field, "getType", "()Ljava/lang/Class;");
    c.slotCtor = method(c.nativeSlot, "<init>", "(I)V");
    c.sessionCtor = method(c.nativeSession, "<init>", "(Lqorvik/Slot;I)V");
    c.getFunctionName = method(c.cryptokiException, "getFunctionName", "()Ljava/lang/String;");
    c.getCode = method(c.cryptokiException, "getCode", "()I");
    c.getMessage = method(c.cryptokiException, "getMessage", "()Ljava/lang/String;");
    c.intValue = method(c.integer, "intValue", "()I");
    c.booleanValue = method(c.boolean, "booleanValue", "()Z");
}

// Every JNI call that may run Java code is followed by an exception check.
template <typename T>
T ok(T value) {
    FUZZ_CHECK(!env->ExceptionCheck());
    return value;
}

std::string utf(jstring s) {
    if (s == nullptr) return "<null>";
    const char* chars = env->GetStringUTFChars(s, nullptr);
    FUZZ_CHECK(chars != nullptr);
    std::string out(chars);
    env->ReleaseStringUTFChars(s, chars);
    return out;
}

// ---- Values chosen by the input -------------------------------------------------

jint interestingInt(Bytes& in) {
    static const jint kTable[] = {0,     1,     -1,          2,       7,      8,
                                  9,     63,    64,          65,      255,    256,
                                  1024,  1025,  0x7FFFFFFF,  INT_MIN, -8,     0x10000,
                                  0x3A0, 0x372, INT_MIN + 1, -1024,   0x1000, 0xFFFF};
    const uint8_t pick = in.u8();
    if (pick < 160) return kTable[pick % (sizeof kTable / sizeof kTable[0])];
    return static_cast<jint>(in.u32());
}

// Mostly short, sometimes around the bridge's read buffer and beyond.
jsize arrayLength(Bytes& in) {
    const uint8_t pick = in.u8();
    if (pick < 200) return pick % 41;
    if (pick < 240) return 2040 + in.u8() % 16;
    return in.u16() % 5000;
}

jbyteArray byteArray(Bytes& in, jsize length) {
    std::vector<jbyte> bytes(static_cast<std::size_t>(length));
    in.take(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
    jbyteArray array = env->NewByteArray(length);
    FUZZ_CHECK(array != nullptr);
    if (length > 0) env->SetByteArrayRegion(array, 0, length, bytes.data());
    return array;
}

// Characters mostly one byte wide (passwords, salts), sometimes wider.
std::vector<jchar> charUnits(Bytes& in, jsize length) {
    const bool wide = in.u8() < 24;
    std::vector<jchar> units(static_cast<std::size_t>(length));
    for (jchar& unit : units) unit = wide ? in.u16() : in.u8();
    return units;
}

jcharArray charArray(Bytes& in, jsize length) {
    const std::vector<jchar> units = charUnits(in, length);
    jcharArray array = env->NewCharArray(length);
    FUZZ_CHECK(array != nullptr);
    if (length > 0) env->SetCharArrayRegion(array, 0, length, units.data());
    return array;
}

// Text as UTF-16 units: ASCII, other BMP characters, surrogate pairs and lone halves.
jstring javaText(Bytes& in, std::vector<jchar>& units) {
    const jsize length = in.u8() % 24;
    units.clear();
    for (jsize i = 0; i < length; ++i) {
        const uint8_t kind = in.u8();
        if (kind < 160) {
            units.push_back(static_cast<jchar>(0x20 + kind % 0x5F));
        } else if (kind < 220) {
            units.push_back(in.u16());
        } else {
            units.push_back(static_cast<jchar>(0xD800 + in.u16() % 0x400));
            if (kind < 250) units.push_back(static_cast<jchar>(0xDC00 + in.u16() % 0x400));
        }
    }
    jstring s = ok(env->NewString(units.data(), static_cast<jsize>(units.size())));
    FUZZ_CHECK(s != nullptr);
    return s;
}

enum class ValueKind {
    kNull,
    kInteger,
    kBoolean,
    kBytes,
    kString,
    // Classes a template refuses.
    kLong,
    kChars,
    kDate,
    kInts,
    kPlainObject,
    kContractObject,
    kCount
};

struct Value {
    ValueKind kind = ValueKind::kNull;
    jobject object = nullptr;
    jint integer = 0;
    bool flag = false;
    std::vector<uint8_t> bytes;
    std::vector<jchar> text;
};

bool accepted(ValueKind kind) {
    return kind == ValueKind::kNull || kind == ValueKind::kInteger || kind == ValueKind::kBoolean ||
           kind == ValueKind::kBytes || kind == ValueKind::kString;
}

Value makeValue(Bytes& in) {
    Value v;
    v.kind = static_cast<ValueKind>(in.u8() % static_cast<int>(ValueKind::kCount));
    switch (v.kind) {
        case ValueKind::kNull:
            break;
        case ValueKind::kInteger:
            v.integer = interestingInt(in);
            v.object = ok(env->CallStaticObjectMethod(c.integer, c.integerValueOf, v.integer));
            break;
        case ValueKind::kBoolean:
            v.flag = in.flag();
            v.object = ok(env->CallStaticObjectMethod(c.boolean, c.booleanValueOf,
                                                      v.flag ? JNI_TRUE : JNI_FALSE));
            break;
        case ValueKind::kBytes: {
            jbyteArray array = byteArray(in, arrayLength(in));
            v.bytes.resize(static_cast<std::size_t>(env->GetArrayLength(array)));
            if (!v.bytes.empty()) {
                env->GetByteArrayRegion(array, 0, static_cast<jsize>(v.bytes.size()),
                                        reinterpret_cast<jbyte*>(v.bytes.data()));
            }
            v.object = array;
            break;
        }
        case ValueKind::kString:
            v.object = javaText(in, v.text);
            break;
        case ValueKind::kLong: {
            const jlong number =
                static_cast<jlong>((static_cast<uint64_t>(in.u32()) << 32) | in.u32());
            v.object = ok(env->CallStaticObjectMethod(c.longClass, c.longValueOf, number));
            break;
        }
        case ValueKind::kChars:
            v.object = charArray(in, in.u8() % 17);
            break;
        case ValueKind::kDate:
            v.object = ok(env->NewObject(c.date, c.dateCtor, static_cast<jlong>(in.u32())));
            break;
        case ValueKind::kInts: {
            const jsize length = in.u8() % 9;
            std::vector<jint> ints(static_cast<std::size_t>(length));
            for (jint& i : ints) i = interestingInt(in);
            jintArray array = env->NewIntArray(length);
            if (length > 0) env->SetIntArrayRegion(array, 0, length, ints.data());
            v.object = array;
            break;
        }
        case ValueKind::kPlainObject:
            v.object = ok(env->NewObject(c.object, c.objectCtor));
            break;
        case ValueKind::kContractObject:
            v.object =
                ok(env->NewObject(c.mechanism, c.mechanismCtor, interestingInt(in), nullptr));
            break;
        case ValueKind::kCount:
            break;
    }
    FUZZ_CHECK(!env->ExceptionCheck());
    FUZZ_CHECK(v.kind == ValueKind::kNull || v.object != nullptr);
    return v;
}

// ---- What the bridge promises for templates ---------------------------------------

enum class Group { kInteger, kBoolean, kBytes, kNone };

// The Java class each attribute type comes back as.
Group groupOf(CK_ATTRIBUTE_TYPE type) {
    switch (type) {
        case CKA_CLASS:
        case CKA_CERTIFICATE_TYPE:
        case CKA_KEY_TYPE:
        case CKA_MODULUS_BITS:
        case CKA_VALUE_LEN:
            return Group::kInteger;
        case CKA_TOKEN:
        case CKA_PRIVATE:
        case CKA_SENSITIVE:
        case CKA_ENCRYPT:
        case CKA_DECRYPT:
        case CKA_WRAP:
        case CKA_UNWRAP:
        case CKA_SIGN:
        case CKA_SIGN_RECOVER:
        case CKA_VERIFY:
        case CKA_VERIFY_RECOVER:
        case CKA_DERIVE:
        case CKA_EXTRACTABLE:
        case CKA_LOCAL:
        case CKA_NEVER_EXTRACTABLE:
        case CKA_ALWAYS_SENSITIVE:
        case CKA_MODIFIABLE:
        case CKA_ALWAYS_AUTHENTICATE:
            return Group::kBoolean;
        case CKA_LABEL:
        case CKA_APPLICATION:
        case CKA_VALUE:
        case CKA_SERIAL_NUMBER:
        case CKA_SUBJECT:
        case CKA_ID:
        case CKA_START_DATE:
        case CKA_END_DATE:
        case CKA_MODULUS:
        case CKA_PUBLIC_EXPONENT:
        case CKA_PRIVATE_EXPONENT:
        case CKA_PRIME_1:
        case CKA_PRIME_2:
        case CKA_EXPONENT_1:
        case CKA_EXPONENT_2:
        case CKA_COEFFICIENT:
        case CKA_PRIME:
        case CKA_SUBPRIME:
        case CKA_BASE:
            return Group::kBytes;
        default:
            return Group::kNone;
    }
}

jint attributeType(Bytes& in) {
    static const jint kTypes[] = {CKA_CLASS,
                                  CKA_TOKEN,
                                  CKA_PRIVATE,
                                  CKA_LABEL,
                                  CKA_VALUE,
                                  CKA_ID,
                                  CKA_KEY_TYPE,
                                  CKA_VALUE_LEN,
                                  CKA_MODULUS_BITS,
                                  CKA_SIGN,
                                  CKA_DERIVE,
                                  CKA_ALWAYS_AUTHENTICATE,
                                  CKA_START_DATE,
                                  CKA_MODULUS,
                                  CKA_ISSUER,
                                  CKA_EC_POINT,
                                  CKA_OBJECT_ID,
                                  static_cast<jint>(CKA_VENDOR_DEFINED),
                                  static_cast<jint>(CKA_VENDOR_DEFINED + 1),
                                  static_cast<jint>(0xFFFFFFFFu),
                                  0x7FFFFFFF};
    const uint8_t pick = in.u8();
    if (pick < 224) return kTypes[pick % (sizeof kTypes / sizeof kTypes[0])];
    return static_cast<jint>(in.u32());
}

// A Java int that carries a CK_ULONG reaches the module unsigned.
CK_ULONG widened(jint value) {
    return static_cast<CK_ULONG>(static_cast<uint32_t>(value));
}

// Labels reach the module as standard UTF-8; a lone surrogate as U+FFFD.
std::vector<uint8_t> standardUtf8(const std::vector<jchar>& units) {
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        uint32_t cp = units[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<uint8_t>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<uint8_t>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<uint8_t>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<uint8_t>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

// Reads every byte as a module would; the sanitizer sees a read past the buffer.
volatile uint8_t g_sink;
void moduleReads(const void* p, CK_ULONG length) {
    if (length == 0) return;
    FUZZ_CHECK(p != nullptr);
    const auto* bytes = static_cast<const volatile uint8_t*>(p);
    uint8_t sum = 0;
    for (CK_ULONG i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    g_sink = sum;
}

// Writes as a module writes its outputs; the sanitizer sees a write past the buffer.
void moduleWrites(void* p, CK_ULONG length) {
    if (length == 0) return;
    FUZZ_CHECK(p != nullptr);
    std::memset(p, 0x5A, length);
}

struct Element {
    bool present = false;
    jint type = 0;
    Value value;
};

struct AttributeInput {
    jobjectArray array = nullptr;  // null: the Java caller passed null
    std::vector<Element> elements;
    // The first failure the conversion must report, or none.
    std::optional<std::string> expectedFailure;
};

AttributeInput makeAttributes(Bytes& in) {
    AttributeInput input;
    if (in.u8() < 8) return input;
    const jsize count = in.u8() % 9;
    input.array = env->NewObjectArray(count, c.attribute, nullptr);
    FUZZ_CHECK(input.array != nullptr);
    for (jsize i = 0; i < count; ++i) {
        Element element;
        element.present = in.u8() >= 12;
        if (element.present) {
            element.type = attributeType(in);
            element.value = makeValue(in);
            jobject attribute = ok(
                env->NewObject(c.attribute, c.attributeCtor, element.type, element.value.object));
            FUZZ_CHECK(attribute != nullptr);
            env->SetObjectArrayElement(input.array, i, attribute);
            env->DeleteLocalRef(attribute);
        }
        if (!input.expectedFailure) {
            if (!element.present) {
                input.expectedFailure = "Attribute2CKAttribute - attribute is NULL";
            } else if (!accepted(element.value.kind)) {
                input.expectedFailure = "Attribute2CKAttribute - unsupported value class";
            }
        }
        input.elements.push_back(std::move(element));
    }
    return input;
}

// The value a write-template entry must hold for its Java value.
void checkEntry(const Element& element, const CK_ATTRIBUTE& entry) {
    FUZZ_CHECK(entry.type == widened(element.type));
    const Value& v = element.value;
    switch (v.kind) {
        case ValueKind::kNull:
            FUZZ_CHECK(entry.pValue == nullptr && entry.ulValueLen == 0);
            return;
        case ValueKind::kInteger: {
            FUZZ_CHECK(entry.ulValueLen == sizeof(CK_ULONG));
            CK_ULONG number;
            std::memcpy(&number, entry.pValue, sizeof number);
            FUZZ_CHECK(number == widened(v.integer));
            return;
        }
        case ValueKind::kBoolean:
            FUZZ_CHECK(entry.ulValueLen == 1);
            FUZZ_CHECK(*static_cast<const CK_BBOOL*>(entry.pValue) ==
                       (v.flag ? CK_TRUE : CK_FALSE));
            return;
        case ValueKind::kBytes:
            FUZZ_CHECK(entry.ulValueLen == v.bytes.size());
            moduleReads(entry.pValue, entry.ulValueLen);
            FUZZ_CHECK(v.bytes.empty() ||
                       std::memcmp(entry.pValue, v.bytes.data(), v.bytes.size()) == 0);
            return;
        case ValueKind::kString: {
            const std::vector<uint8_t> expected = standardUtf8(v.text);
            FUZZ_CHECK(entry.ulValueLen == expected.size());
            // The text is terminated as well, for modules that read it as a C string.
            moduleReads(entry.pValue, entry.ulValueLen + 1);
            FUZZ_CHECK(expected.empty() ||
                       std::memcmp(entry.pValue, expected.data(), expected.size()) == 0);
            FUZZ_CHECK(static_cast<const uint8_t*>(entry.pValue)[expected.size()] == 0);
            return;
        }
        default:
            FUZZ_CHECK(!"a refused value class was converted");
    }
}

// What comes back to Java for an entry as the module would return it.
void checkReadBack(const Element& element, const CK_ATTRIBUTE& entry) {
    jobject back = nullptr;
    try {
        back = CkAttribute2Pkcs11Attribute(env, entry);
    } catch (const MessageFailure& f) {
        std::fprintf(stderr, "read-back failed: %s\n", f.message);
        FUZZ_CHECK(!"converting a value back failed");
    }
    FUZZ_CHECK(!env->ExceptionCheck());
    const bool empty = entry.pValue == nullptr || entry.ulValueLen == 0;
    switch (groupOf(entry.type)) {
        case Group::kInteger:
            if (empty) {
                FUZZ_CHECK(back == nullptr);
            } else {
                FUZZ_CHECK(back != nullptr && env->IsInstanceOf(back, c.integer));
                if (element.value.kind == ValueKind::kInteger) {
                    FUZZ_CHECK(ok(env->CallIntMethod(back, c.intValue)) == element.value.integer);
                }
            }
            break;
        case Group::kBoolean:
            if (empty) {
                FUZZ_CHECK(back == nullptr);
            } else {
                FUZZ_CHECK(back != nullptr && env->IsInstanceOf(back, c.boolean));
                if (element.value.kind == ValueKind::kBoolean) {
                    FUZZ_CHECK((ok(env->CallBooleanMethod(back, c.booleanValue)) != JNI_FALSE) ==
                               element.value.flag);
                }
            }
            break;
        case Group::kBytes: {
            FUZZ_CHECK(back != nullptr && env->IsInstanceOf(back, c.bytes));
            jbyteArray array = static_cast<jbyteArray>(back);
            const jsize length = env->GetArrayLength(array);
            FUZZ_CHECK(static_cast<CK_ULONG>(length) == entry.ulValueLen);
            std::vector<uint8_t> bytes(static_cast<std::size_t>(length));
            if (length > 0) {
                env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(bytes.data()));
                FUZZ_CHECK(std::memcmp(bytes.data(), entry.pValue, bytes.size()) == 0);
            }
            break;
        }
        case Group::kNone:
            FUZZ_CHECK(back == nullptr);
            break;
    }
    if (back != nullptr) env->DeleteLocalRef(back);
}

// Converts directly and checks the template; returns the failure text, if any.
std::optional<std::string> convertAttributes(const AttributeInput& input) {
    std::optional<std::string> failure;
    AttributeTemplate* built = nullptr;
    try {
        built = new AttributeTemplate(env, input.array);
    } catch (const MessageFailure& f) {
        failure = f.message;
    } catch (const ReturnValueFailure& f) {
        failure = std::string("rv ") + std::to_string(f.rv);
    }
    FUZZ_CHECK(!env->ExceptionCheck());
    if (failure) {
        if (input.expectedFailure != failure) {
            std::fprintf(stderr, "template failure '%s', expected '%s'\n", failure->c_str(),
                         input.expectedFailure ? input.expectedFailure->c_str() : "none");
        }
        FUZZ_CHECK(input.expectedFailure == failure);
        return failure;
    }
    if (input.expectedFailure) {
        std::fprintf(stderr, "template converted, expected '%s'\n", input.expectedFailure->c_str());
    }
    FUZZ_CHECK(!input.expectedFailure);
    FUZZ_CHECK(built->count() == input.elements.size());
    FUZZ_CHECK(input.array != nullptr || built->entries() == nullptr);
    for (std::size_t i = 0; i < input.elements.size(); ++i) {
        checkEntry(input.elements[i], built->entries()[i]);
        checkReadBack(input.elements[i], built->entries()[i]);
    }
    delete built;
    return std::nullopt;
}

// ---- Mechanisms ---------------------------------------------------------------------

// Every mechanism type that takes a parameter, with the class of its parameter
// ("[B": the IV itself). New rows of the bridge join this table.
struct Row {
    CK_MECHANISM_TYPE type;
    const char* parameterClass;
};
const Row kRows[] = {
    {CKM_RSA_PKCS_OAEP, "qorvik/params/OAEPParams"},
    {CKM_RC2_ECB, "qorvik/params/RC2Params"},
    {CKM_RC2_MAC, "qorvik/params/RC2Params"},
    {CKM_RC2_CBC, "qorvik/params/RC2CBCParams"},
    {CKM_RC2_CBC_PAD, "qorvik/params/RC2CBCParams"},
    {CKM_RC2_MAC_GENERAL, "qorvik/params/RC2MACGENERALParams"},
    {CKM_DES_CBC, "[B"},
    {CKM_DES_CBC_PAD, "[B"},
    {CKM_DES3_CBC, "[B"},
    {CKM_DES3_CBC_PAD, "[B"},
    {CKM_CDMF_CBC, "[B"},
    {CKM_CDMF_CBC_PAD, "[B"},
    {CKM_CAST_CBC, "[B"},
    {CKM_CAST_CBC_PAD, "[B"},
    {CKM_CAST3_CBC, "[B"},
    {CKM_CAST3_CBC_PAD, "[B"},
    {CKM_CAST5_CBC, "[B"},
    {CKM_CAST5_CBC_PAD, "[B"},
    {CKM_IDEA_CBC, "[B"},
    {CKM_IDEA_CBC_PAD, "[B"},
    {CKM_DES_MAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_DES3_MAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_CDMF_MAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_MD2_HMAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_MD5_HMAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_SHA_1_HMAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_RIPEMD128_HMAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_RIPEMD160_HMAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_CAST_MAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_CAST3_MAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_CAST5_MAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_IDEA_MAC_GENERAL, "qorvik/params/MACGENERALParams"},
    {CKM_SSL3_MD5_MAC, "qorvik/params/MACGENERALParams"},
    {CKM_SSL3_SHA1_MAC, "qorvik/params/MACGENERALParams"},
    {CKM_RC5_ECB, "qorvik/params/RC5Params"},
    {CKM_RC5_MAC, "qorvik/params/RC5Params"},
    {CKM_RC5_CBC, "qorvik/params/RC5CBCParams"},
    {CKM_RC5_CBC_PAD, "qorvik/params/RC5CBCParams"},
    {CKM_RC5_MAC_GENERAL, "qorvik/params/RC5MACGENERALParams"},
    {CKM_CONCATENATE_BASE_AND_DATA, "qorvik/params/KEYDERIVATIONSTRINGDATA"},
    {CKM_CONCATENATE_DATA_AND_BASE, "qorvik/params/KEYDERIVATIONSTRINGDATA"},
    {CKM_XOR_BASE_AND_DATA, "qorvik/params/KEYDERIVATIONSTRINGDATA"},
    {CKM_EXTRACT_KEY_FROM_KEY, "qorvik/params/EXTRACTParams"},
    {CKM_SSL3_MASTER_KEY_DERIVE, "qorvik/params/SSL3MASTERKEYDERIVEParams"},
    {CKM_SSL3_KEY_AND_MAC_DERIVE, "qorvik/params/SSL3KEYMATParams"},
    {CKM_KEY_WRAP_SET_OAEP, "qorvik/params/KEYWRAPSETOAEPParams"},
    {CKM_SKIPJACK_PRIVATE_WRAP, "qorvik/params/SKIPJACKPRIVATEWRAPParams"},
    {CKM_SKIPJACK_RELAYX, "qorvik/params/SKIPJACKRELAYXParams"},
    {CKM_KEA_KEY_DERIVE, "qorvik/params/KeaDeriveParams"},
    {CKM_PBE_MD2_DES_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_MD5_DES_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_MD5_CAST_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_MD5_CAST3_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_MD5_CAST5_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_SHA1_CAST5_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_SHA1_RC4_128, "qorvik/params/PBEParams"},
    {CKM_PBE_SHA1_RC4_40, "qorvik/params/PBEParams"},
    {CKM_PBE_SHA1_DES3_EDE_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_SHA1_DES2_EDE_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_SHA1_RC2_128_CBC, "qorvik/params/PBEParams"},
    {CKM_PBE_SHA1_RC2_40_CBC, "qorvik/params/PBEParams"},
};
constexpr std::size_t kRowCount = sizeof kRows / sizeof kRows[0];

// Types without a parameter: the parameter object is never looked at.
const CK_MECHANISM_TYPE kPlainTypes[] = {CKM_RSA_PKCS,           CKM_SHA_1,
                                         CKM_SHA256_RSA_PKCS,    CKM_DES3_KEY_GEN,
                                         CKM_VENDOR_DEFINED + 1, 0xFFFFFFFFu};

const Row* rowOf(CK_MECHANISM_TYPE type) {
    for (const Row& row : kRows) {
        if (row.type == type) return &row;
    }
    return nullptr;
}

// The public instance fields of a parameter class, found by reflection so
// that a field added to a class is filled too.
struct FieldSlot {
    std::string name;
    std::string signature;
    jfieldID id;
};
struct ClassInfo {
    jclass cls = nullptr;
    std::vector<FieldSlot> fields;
};

std::string signatureOf(const std::string& javaName) {
    static const std::map<std::string, std::string> kPrimitive = {
        {"int", "I"},  {"byte", "B"},  {"boolean", "Z"}, {"long", "J"},
        {"char", "C"}, {"short", "S"}, {"float", "F"},   {"double", "D"}};
    auto primitive = kPrimitive.find(javaName);
    if (primitive != kPrimitive.end()) return primitive->second;
    std::string path = javaName;
    for (char& ch : path) {
        if (ch == '.') ch = '/';
    }
    return path[0] == '[' ? path : "L" + path + ";";
}

const ClassInfo& classInfo(const std::string& path) {
    static std::map<std::string, ClassInfo> cache;
    auto found = cache.find(path);
    if (found != cache.end()) return found->second;
    ClassInfo info;
    info.cls = globalClass(path.c_str());
    if (path[0] != '[') {
        jobjectArray fields =
            static_cast<jobjectArray>(ok(env->CallObjectMethod(info.cls, c.getFields)));
        FUZZ_CHECK(fields != nullptr && !env->ExceptionCheck());
        for (jsize i = 0; i < env->GetArrayLength(fields); ++i) {
            jobject field = env->GetObjectArrayElement(fields, i);
            const jint modifiers = ok(env->CallIntMethod(field, c.getModifiers));
            if ((modifiers & 0x8) == 0) {  // static fields are not the record's
                jstring name = static_cast<jstring>(ok(env->CallObjectMethod(field, c.getName)));
                jobject type = ok(env->CallObjectMethod(field, c.getType));
                jstring typeName =
                    static_cast<jstring>(ok(env->CallObjectMethod(type, c.className)));
                FieldSlot slot{utf(name), signatureOf(utf(typeName)), nullptr};
                slot.id = env->GetFieldID(info.cls, slot.name.c_str(), slot.signature.c_str());
                FUZZ_CHECK(slot.id != nullptr);
                info.fields.push_back(slot);
                env->DeleteLocalRef(name);
                env->DeleteLocalRef(type);
                env->DeleteLocalRef(typeName);
            }
            env->DeleteLocalRef(field);
        }
        env->DeleteLocalRef(fields);
    }
    return cache.emplace(path, std::move(info)).first->second;
}

jobject buildParameter(Bytes& in, const std::string& path, int depth);

// A value for a field of the given signature, or null.
jobject fieldObject(Bytes& in, const std::string& signature, int depth) {
    if (in.u8() < 20) return nullptr;
    if (signature == "[B") return byteArray(in, arrayLength(in));
    if (signature == "[C") return charArray(in, arrayLength(in) % 48);
    if (signature == "Ljava/lang/Boolean;") {
        return ok(env->CallStaticObjectMethod(c.boolean, c.booleanValueOf,
                                              in.flag() ? JNI_TRUE : JNI_FALSE));
    }
    if (signature == "Ljava/lang/Integer;") {
        return ok(env->CallStaticObjectMethod(c.integer, c.integerValueOf, interestingInt(in)));
    }
    if (signature == "Ljava/lang/Object;") return makeValue(in).object;
    if (signature.rfind("Lqorvik/", 0) == 0 && depth < 3) {
        return buildParameter(in, signature.substr(1, signature.size() - 2), depth + 1);
    }
    return nullptr;
}

// An object of the class with every field set from the input.
jobject buildParameter(Bytes& in, const std::string& path, int depth) {
    if (path == "[B") return byteArray(in, in.u8() < 200 ? 8 + in.u8() % 9 : in.u8() % 8);
    const ClassInfo& info = classInfo(path);
    jobject object = ok(env->AllocObject(info.cls));
    FUZZ_CHECK(object != nullptr);
    for (const FieldSlot& field : info.fields) {
        const char kind = field.signature[0];
        switch (kind) {
            case 'I':
                env->SetIntField(object, field.id, interestingInt(in));
                break;
            case 'B':
                env->SetByteField(object, field.id, static_cast<jbyte>(in.u8()));
                break;
            case 'Z':
                env->SetBooleanField(object, field.id, in.flag() ? JNI_TRUE : JNI_FALSE);
                break;
            case 'J':
                env->SetLongField(object, field.id, static_cast<jlong>(in.u32()));
                break;
            case 'C':
                env->SetCharField(object, field.id, in.u16());
                break;
            case 'S':
                env->SetShortField(object, field.id, static_cast<jshort>(in.u16()));
                break;
            case 'L':
            case '[': {
                jobject value = fieldObject(in, field.signature, depth);
                env->SetObjectField(object, field.id, value);
                if (value != nullptr) env->DeleteLocalRef(value);
                break;
            }
            default:
                break;
        }
    }
    FUZZ_CHECK(!env->ExceptionCheck());
    return object;
}

struct MechanismInput {
    jobject mechanism = nullptr;  // null: the Java caller passed null
    jint type = 0;
    jobject parameter = nullptr;
    const Row* row = nullptr;
};

MechanismInput makeMechanism(Bytes& in) {
    MechanismInput input;
    if (in.u8() < 6) return input;
    const uint8_t pick = in.u8();
    if (pick < 200) {
        input.type = static_cast<jint>(kRows[in.below(kRowCount)].type);
    } else if (pick < 240) {
        input.type =
            static_cast<jint>(kPlainTypes[in.below(sizeof kPlainTypes / sizeof kPlainTypes[0])]);
    } else {
        input.type = static_cast<jint>(in.u32());
    }
    input.row = rowOf(widened(input.type));
    const uint8_t parameterPick = in.u8();
    if (parameterPick < 180 && input.row != nullptr) {
        input.parameter = buildParameter(in, input.row->parameterClass, 0);
    } else if (parameterPick < 215) {
        input.parameter = buildParameter(in, kRows[in.below(kRowCount)].parameterClass, 0);
    } else if (parameterPick < 240) {
        input.parameter = makeValue(in).object;
    }
    input.mechanism = ok(env->NewObject(c.mechanism, c.mechanismCtor, input.type, input.parameter));
    FUZZ_CHECK(input.mechanism != nullptr);
    return input;
}

jint intFieldOf(jobject object, const char* name) {
    jclass cls = env->GetObjectClass(object);
    jint value = env->GetIntField(object, env->GetFieldID(cls, name, "I"));
    env->DeleteLocalRef(cls);
    return value;
}

template <typename Record>
Record& recordOf(const CK_MECHANISM& m) {
    FUZZ_CHECK(m.pParameter != nullptr);
    FUZZ_CHECK(m.ulParameterLen == sizeof(Record));
    return *static_cast<Record*>(m.pParameter);
}

void readsRandom(const CK_SSL3_RANDOM_DATA& random) {
    moduleReads(random.pClientRandom, random.ulClientRandomLen);
    moduleReads(random.pServerRandom, random.ulServerRandomLen);
}

// Uses the record exactly as a module of that mechanism does: reads every
// input buffer at its stated length and writes every output buffer.
void moduleUses(const MechanismInput& input, const CK_MECHANISM& m) {
    const CK_MECHANISM_TYPE type = m.mechanism;
    if (input.row == nullptr) {
        FUZZ_CHECK(m.pParameter == nullptr && m.ulParameterLen == 0);
        return;
    }
    FUZZ_CHECK(input.parameter != nullptr);
    const std::string cls = input.row->parameterClass;
    if (cls == "[B") {
        FUZZ_CHECK(m.ulParameterLen == 8);
        moduleReads(m.pParameter, m.ulParameterLen);
    } else if (cls == "qorvik/params/OAEPParams") {
        auto& r = recordOf<CK_RSA_PKCS_OAEP_PARAMS>(m);
        FUZZ_CHECK(r.hashAlg == widened(intFieldOf(input.parameter, "m_hashAlg")));
        FUZZ_CHECK(r.mgf == widened(intFieldOf(input.parameter, "m_mgf")));
        moduleReads(r.pSourceData, r.ulSourceDataLen);
    } else if (cls == "qorvik/params/RC2Params" || cls == "qorvik/params/MACGENERALParams" ||
               cls == "qorvik/params/EXTRACTParams") {
        recordOf<CK_ULONG>(m);
    } else if (cls == "qorvik/params/RC2CBCParams") {
        recordOf<CK_RC2_CBC_PARAMS>(m);
    } else if (cls == "qorvik/params/RC2MACGENERALParams") {
        recordOf<CK_RC2_MAC_GENERAL_PARAMS>(m);
    } else if (cls == "qorvik/params/RC5Params") {
        recordOf<CK_RC5_PARAMS>(m);
    } else if (cls == "qorvik/params/RC5CBCParams") {
        auto& r = recordOf<CK_RC5_CBC_PARAMS>(m);
        moduleReads(r.pIv, r.ulIvLen);
    } else if (cls == "qorvik/params/RC5MACGENERALParams") {
        recordOf<CK_RC5_MAC_GENERAL_PARAMS>(m);
    } else if (cls == "qorvik/params/KEYDERIVATIONSTRINGDATA") {
        auto& r = recordOf<CK_KEY_DERIVATION_STRING_DATA>(m);
        moduleReads(r.pData, r.ulLen);
    } else if (cls == "qorvik/params/SSL3MASTERKEYDERIVEParams") {
        auto& r = recordOf<CK_SSL3_MASTER_KEY_DERIVE_PARAMS>(m);
        readsRandom(r.RandomInfo);
        moduleWrites(r.pVersion, sizeof(CK_VERSION));
    } else if (cls == "qorvik/params/SSL3KEYMATParams") {
        auto& r = recordOf<CK_SSL3_KEY_MAT_PARAMS>(m);
        readsRandom(r.RandomInfo);
        // Sizes are never negative, and no cipher's IV is longer than 1024 bits.
        FUZZ_CHECK(r.ulIVSizeInBits <= 1024);
        FUZZ_CHECK(r.pReturnedKeyMaterial != nullptr);
        CK_SSL3_KEY_MAT_OUT& out = *r.pReturnedKeyMaterial;
        out.hClientMacSecret = out.hServerMacSecret = out.hClientKey = out.hServerKey = 0x5A5A;
        if (r.ulIVSizeInBits != 0) {
            moduleWrites(out.pIVClient, r.ulIVSizeInBits / 8);
            moduleWrites(out.pIVServer, r.ulIVSizeInBits / 8);
        }
    } else if (cls == "qorvik/params/KEYWRAPSETOAEPParams") {
        auto& r = recordOf<CK_KEY_WRAP_SET_OAEP_PARAMS>(m);
        moduleReads(r.pX, r.ulXLen);
    } else if (cls == "qorvik/params/SKIPJACKPRIVATEWRAPParams") {
        auto& r = recordOf<CK_SKIPJACK_PRIVATE_WRAP_PARAMS>(m);
        moduleReads(r.pPassword, r.ulPasswordLen);
        moduleReads(r.pPublicData, r.ulPublicDataLen);
        moduleReads(r.pRandomA, r.ulRandomLen);
        moduleReads(r.pPrimeP, r.ulPAndGLen);
        moduleReads(r.pBaseG, r.ulPAndGLen);
        moduleReads(r.pSubprimeQ, r.ulQLen);
    } else if (cls == "qorvik/params/SKIPJACKRELAYXParams") {
        auto& r = recordOf<CK_SKIPJACK_RELAYX_PARAMS>(m);
        moduleReads(r.pOldWrappedX, r.ulOldWrappedXLen);
        moduleReads(r.pOldPassword, r.ulOldPasswordLen);
        moduleReads(r.pOldPublicData, r.ulOldPublicDataLen);
        moduleReads(r.pOldRandomA, r.ulOldRandomLen);
        moduleReads(r.pNewPassword, r.ulNewPasswordLen);
        moduleReads(r.pNewPublicData, r.ulNewPublicDataLen);
        moduleReads(r.pNewRandomA, r.ulNewRandomLen);
    } else if (cls == "qorvik/params/KeaDeriveParams") {
        auto& r = recordOf<CK_KEA_DERIVE_PARAMS>(m);
        moduleReads(r.pRandomA, r.ulRandomLen);
        moduleReads(r.pRandomB, r.ulRandomLen);
        moduleReads(r.pPublicData, r.ulPublicDataLen);
    } else if (cls == "qorvik/params/PBEParams") {
        auto& r = recordOf<CK_PBE_PARAMS>(m);
        moduleReads(r.pPassword, r.ulPasswordLen);
        moduleReads(r.pSalt, r.ulSaltLen);
        if (r.pInitVector != nullptr) moduleWrites(r.pInitVector, 8);
    } else {
        std::fprintf(stderr, "no module use known for mechanism 0x%lx (%s)\n",
                     static_cast<unsigned long>(type), cls.c_str());
        FUZZ_CHECK(!"a parameter class without a module use in this harness");
    }
}

// The failures decided before any field is read: no mechanism, no parameter
// for a type that takes one, a parameter of another class, a short IV.
std::optional<std::string> earlyFailure(const MechanismInput& input) {
    if (input.mechanism == nullptr) return "Mechanism2CKMechanism - mechanism is NULL";
    if (input.row == nullptr) return std::nullopt;
    if (input.parameter == nullptr) return "Mechanism2CKMechanism - parameter value is NULL";
    const std::string cls = input.row->parameterClass;
    const bool instance = ok(env->IsInstanceOf(input.parameter, classInfo(cls).cls));
    if (cls == "[B") {
        if (!instance || env->GetArrayLength(static_cast<jbyteArray>(input.parameter)) < 8) {
            return "Mechanism2CKMechanism - IV must be at least 8 bytes";
        }
    } else if (!instance) {
        return "Mechanism2CKMechanism - parameter must be instance of '" + cls + "'";
    }
    return std::nullopt;
}

std::optional<std::string> convertMechanism(const MechanismInput& input) {
    const std::optional<std::string> early = earlyFailure(input);
    CK_MECHANISM m{0xDEADu, reinterpret_cast<void*>(0x1), 7};
    std::optional<std::string> failure;
    try {
        Mechanism2CKMechanism(env, input.mechanism, &m);
    } catch (const MessageFailure& f) {
        failure = f.message;
    } catch (const ReturnValueFailure& f) {
        failure = std::string("rv ") + std::to_string(f.rv);
    } catch (const std::bad_alloc&) {
        FUZZ_CHECK(!"a mechanism conversion ran out of memory");
    }
    FUZZ_CHECK(!env->ExceptionCheck());
    if (early && failure != early) {
        std::fprintf(stderr, "mechanism 0x%x: '%s', expected '%s'\n",
                     static_cast<unsigned>(input.type), failure ? failure->c_str() : "converted",
                     early->c_str());
    }
    FUZZ_CHECK(!early || failure == early);
    // A type without a parameter record converts whatever the parameter is.
    FUZZ_CHECK(input.mechanism == nullptr || input.row != nullptr || !failure);
    if (failure) {
        // A failed conversion leaves nothing to free.
        FUZZ_CHECK(m.pParameter == nullptr);
        FUZZ_CHECK(!failure->empty());
        return failure;
    }
    FUZZ_CHECK(input.mechanism != nullptr);
    FUZZ_CHECK(m.mechanism == widened(input.type));
    if (input.row != nullptr) {
        jclass expected = classInfo(input.row->parameterClass).cls;
        FUZZ_CHECK(input.parameter != nullptr && env->IsInstanceOf(input.parameter, expected));
    }
    moduleUses(input, m);
    FUZZ_CHECK(FreeMechanism(&m) == 0);
    return std::nullopt;
}

// ---- The exported methods against the test module -----------------------------------

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
            if (element.present && widened(element.type) == CKA_VALUE_LEN &&
                element.value.kind == ValueKind::kInteger &&
                static_cast<uint32_t>(element.value.integer) > 0x10000) {
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

// Values as a module answers them: any type, any length up to the buffer,
// any bytes. Converting one back reads no byte beyond what the module wrote.
void moduleAnswers(Bytes& in) {
    const int count = in.u8() % 4;
    for (int i = 0; i < count; ++i) {
        const CK_ATTRIBUTE_TYPE type = widened(attributeType(in));
        const std::size_t length = in.u8() % 24;
        // Exactly as long as the length stated, so the sanitizer sees any read past it.
        std::unique_ptr<uint8_t[]> value(new uint8_t[length > 0 ? length : 1]());
        in.take(value.get(), length);
        CK_ATTRIBUTE answer{type, value.get(), static_cast<CK_ULONG>(length)};
        Element element;
        element.type = static_cast<jint>(type);
        checkReadBack(element, answer);
    }
}

}  // namespace

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
