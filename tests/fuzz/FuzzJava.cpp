#include "FuzzJava.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <map>

namespace fuzz {

namespace {

volatile uint8_t g_sink;

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

// Characters mostly one byte wide (passwords, salts), sometimes wider.
std::vector<jchar> charUnits(Bytes& in, jsize length) {
    const bool wide = in.u8() < 24;
    std::vector<jchar> units(static_cast<std::size_t>(length));
    for (jchar& unit : units) unit = wide ? in.u16() : in.u8();
    return units;
}

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

}  // namespace

// ---- Java classes the harness builds values of --------------------------------

Classes c;
JNIEnv* env = nullptr;

jclass globalClass(const char* path) {
    jclass local = env->FindClass(path);
    FUZZ_CHECK(local != nullptr);
    jclass global = static_cast<jclass>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
    return global;
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

jcharArray charArray(Bytes& in, jsize length) {
    const std::vector<jchar> units = charUnits(in, length);
    jcharArray array = env->NewCharArray(length);
    FUZZ_CHECK(array != nullptr);
    if (length > 0) env->SetCharArrayRegion(array, 0, length, units.data());
    return array;
}

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

CK_ULONG widened(jint value) {
    return static_cast<CK_ULONG>(static_cast<uint32_t>(value));
}

void moduleReads(const void* p, CK_ULONG length) {
    if (length == 0) return;
    FUZZ_CHECK(p != nullptr);
    const auto* bytes = static_cast<const volatile uint8_t*>(p);
    uint8_t sum = 0;
    for (CK_ULONG i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
    g_sink = sum;
}

void moduleWrites(void* p, CK_ULONG length) {
    if (length == 0) return;
    FUZZ_CHECK(p != nullptr);
    std::memset(p, 0x5A, length);
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

}  // namespace fuzz
