// The JVM side of the conversion fuzzing: the classes the harness builds
// values of, Java values chosen by the fuzz input (boxed values, arrays,
// text, objects of every parameter class with their fields set by
// reflection), and reading or writing a converted buffer the way a module does.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "kelmora.h"

namespace fuzz {

extern JNIEnv* env;

struct Classes {
    jclass attribute, mechanism, integer, boolean, longClass, string, object, date, bytes, chars,
        ints, classClass, field, cryptokiException, nativeSlot, nativeSession, nativeCryptoki;
    jmethodID attributeCtor, mechanismCtor, integerValueOf, booleanValueOf, longValueOf, objectCtor,
        dateCtor, getFields, getModifiers, getName, getType, className, slotCtor, sessionCtor,
        getFunctionName, getCode, getMessage, intValue, booleanValue;
};
extern Classes c;

// Global references to every class above, and their methods; aborts when one is missing.
void lookUpClasses();
jclass globalClass(const char* path);

// Every JNI call that may run Java code is followed by an exception check.
template <typename T>
T ok(T value) {
    FUZZ_CHECK(!env->ExceptionCheck());
    return value;
}

std::string utf(jstring s);

// Values chosen by the input.
jint interestingInt(Bytes& in);
// Mostly short, sometimes around the bridge's read buffer and beyond.
jsize arrayLength(Bytes& in);
jbyteArray byteArray(Bytes& in, jsize length);
jcharArray charArray(Bytes& in, jsize length);
// Text as UTF-16 units: ASCII, other BMP characters, surrogate pairs and lone
// halves; the units are kept in `units`.
jstring javaText(Bytes& in, std::vector<jchar>& units);

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

// The value classes a template accepts.
bool accepted(ValueKind kind);
Value makeValue(Bytes& in);

// A Java int that carries a CK_ULONG reaches the module unsigned.
CK_ULONG widened(jint value);

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

const ClassInfo& classInfo(const std::string& path);
// An object of the class (a parameter class, or "[B") with every field set
// from the input; objects of contract classes in fields are built the same way.
jobject buildParameter(Bytes& in, const std::string& path, int depth);

// Reads every byte as a module would; the sanitizer sees a read past the buffer.
void moduleReads(const void* p, CK_ULONG length);
// Writes as a module writes its outputs; the sanitizer sees a write past the buffer.
void moduleWrites(void* p, CK_ULONG length);

}  // namespace fuzz
