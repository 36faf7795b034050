// What the builders of the mechanism parameter records share: owned heap
// blocks (freed with free(), as FreeMechanism does), the parameter classes
// with their failure texts, and field reads.
#pragma once

#include <cstdlib>
#include <memory>
#include <new>

#include "../core/JniGuards.h"
#include "Mechanism.h"

namespace mechanism_rows {

// ---- Owned heap blocks ------------------------------------------------------
// Everything FreeMechanism releases comes from malloc, so the owners free.

struct FreeBlock {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, FreeBlock>;

// A zeroed parameter record (padding included, so records compare bytewise).
template <typename Record>
inline Owned<Record> newRecord() {
    void* p = std::calloc(1, sizeof(Record));
    if (p == nullptr) throw std::bad_alloc();
    return Owned<Record>(static_cast<Record*>(p));
}

// A copy of the first `length` bytes of a Java array; a null array gives a
// null block. An empty array still gets a block of its own.
inline Owned<CK_BYTE> copyBytes(JNIEnv* env, jbyteArray array, jsize length) {
    if (array == nullptr) return nullptr;
    void* p = std::malloc(length > 0 ? static_cast<std::size_t>(length) : 1);
    if (p == nullptr) throw std::bad_alloc();
    Owned<CK_BYTE> block(static_cast<CK_BYTE*>(p));
    env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(block.get()));
    return block;
}

inline jsize lengthOf(JNIEnv* env, jbyteArray array) {
    return array != nullptr ? env->GetArrayLength(array) : 0;
}

// A byte-array copy with the length the record states for it; a null array
// gives a null block and length 0.
struct ByteCopy {
    Owned<CK_BYTE> data;
    CK_ULONG length = 0;
};

inline ByteCopy copyWhole(JNIEnv* env, jbyteArray array) {
    const jsize length = lengthOf(env, array);
    return {copyBytes(env, array, length), static_cast<CK_ULONG>(length)};
}

// Hands a finished copy to a record's pointer and length members. Copy every
// buffer of a record first: a member placed before a later copy fails would
// be lost with the record.
template <typename Pointer>
inline void place(ByteCopy copy, Pointer*& pointer, CK_ULONG& length) {
    length = copy.length;
    pointer = copy.data.release();
}

// The record is complete: the mechanism owns it from here on.
template <typename Record>
inline void publish(CK_MECHANISM& mechanism, Owned<Record> record) {
    mechanism.pParameter = record.release();
    mechanism.ulParameterLen = sizeof(Record);
}

// A parameter class of qorvik.params with the texts of its two failures.
struct ParameterClass {
    const char* path;
    const char* notFound;
    const char* wrongClass;
};

// The three texts of a class differ only in its name; a few "not found"
// texts show the class under a name of their own instead of its path.
// clang-format off
#define KELMORA_PARAMETER_CLASS_SHOWN_AS(name, shownAs)                         \
    {                                                                           \
        "qorvik/params/" name,                                                  \
        "Mechanism2CKMechanism - Class '" shownAs "' not found",                \
        "Mechanism2CKMechanism - parameter must be instance of 'qorvik/params/" \
            name "'"                                                            \
    }
#define KELMORA_PARAMETER_CLASS(name) KELMORA_PARAMETER_CLASS_SHOWN_AS(name, "qorvik/params/" name)
// clang-format on

// Looks up the row's class and makes sure the parameter is one of its
// objects; a field read on an object of another class would be undefined.
inline jclass parameterClass(JNIEnv* env, jobject parameter, const ParameterClass& row) {
    jclass cls = findClass(env, row.path, row.notFound);
    if (!env->IsInstanceOf(parameter, cls)) {
        env->DeleteLocalRef(cls);
        fail(row.wrongClass);
    }
    return cls;
}

// Identifiers, handles and bit counts of a record: the int's 32 bits.
inline CK_ULONG intField(JNIEnv* env, jclass cls, jobject object, const char* name,
                         const char* missing) {
    jfieldID id = findField(env, cls, name, "I", missing);
    return ulongFromJint(env->GetIntField(object, id));
}

inline jbyteArray byteArrayField(JNIEnv* env, jclass cls, jobject object, const char* name,
                                 const char* missing) {
    jfieldID id = findField(env, cls, name, "[B", missing);
    return static_cast<jbyteArray>(env->GetObjectField(object, id));
}

// A record that is one CK_ULONG read from an int field (RC2 ECB/MAC, the
// general-length MACs, bit extraction).
inline void buildSingleValue(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism,
                             const ParameterClass& row, const char* field, const char* missing) {
    LocalRef<jclass> cls(env, parameterClass(env, parameter, row));
    const CK_ULONG value = intField(env, cls.get(), parameter, field, missing);

    auto record = newRecord<CK_ULONG>();
    *record = value;
    publish(mechanism, std::move(record));
}

// Builds the parameter record of one row into the mechanism.
using RowBuilder = void (*)(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism);

// The rows of the key-derivation, key-wrapping and password-based mechanisms.
void buildKeyDerivationString(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism);
void buildExtract(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism);
void buildSsl3MasterKeyDerive(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism);
void buildSsl3KeyAndMacDerive(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism);
void buildPbe(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism);
void buildKeyWrapSetOaep(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism);
void buildSkipjackPrivateWrap(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism);
void buildSkipjackRelayx(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism);
void buildKeaDerive(JNIEnv* env, jobject parameter, CK_MECHANISM& mechanism);

// The rows of the AES modes, RSA-PSS, ECDH, the encryption derivations,
// PBKDF2 and CCM (ModernParams.cpp): null when the type is none of them. For
// these types a null parameter gives no record, and the module decides.
RowBuilder modernRowFor(CK_MECHANISM_TYPE type);
// Frees the buffers a record of those rows owns, not the record; false when
// the type is none of them.
bool freeModernMembers(CK_MECHANISM_TYPE type, void* parameter);

}  // namespace mechanism_rows
