// Java attribute arrays to Cryptoki templates and attribute values back to
// Java objects, with owner types that apply the freeing rules.
#pragma once

#include <cstdlib>

#include "../kelmora.h"

// Size of the buffer every attribute read is primed with (by platform).
using platform::kAttributeReadBufferSize;

extern "C" {
// Builds a write template: every entry owns its own value buffer. The
// out-arguments are set before the first element is converted, so whatever a
// failure leaves half-built is still freed by the caller.
KELMORA_API void Attribute2CKAttribute(JNIEnv* env, jobjectArray jAttributes,
                                       CK_ATTRIBUTE_PTR* ppTemplate, CK_ULONG* pCount);
// Sets the length an entry is queried with: a CK_ULONG, one byte, or the
// whole read buffer, by type.
KELMORA_API void resetAttributeLen(CK_ATTRIBUTE_PTR pAttribute);
// The Java value of a read attribute (Integer, Boolean, byte[]), or null for
// types without a Java class.
KELMORA_API jobject CkAttribute2Pkcs11Attribute(JNIEnv* env, CK_ATTRIBUTE attribute);
}

// One read entry with a buffer of its own.
KELMORA_API void Attribute2CKAttribute_Get(JNIEnv* env, jint type, CK_ATTRIBUTE_PTR pAttribute);
// A read template over one buffer shared by all entries.
KELMORA_API void Attribute2CKAttribute_Get(JNIEnv* env, jintArray jTypes,
                                           CK_ATTRIBUTE_PTR* ppTemplate, CK_ULONG* pCount);

// A write template: frees every entry's value, then the array.
class AttributeTemplate {
  public:
    AttributeTemplate() = default;
    // Delegating first makes the object complete, so a conversion that fails
    // half-way still has its destructor free what was built.
    AttributeTemplate(JNIEnv* env, jobjectArray attributes) : AttributeTemplate() {
        Attribute2CKAttribute(env, attributes, &entries_, &count_);
    }
    AttributeTemplate(const AttributeTemplate&) = delete;
    AttributeTemplate& operator=(const AttributeTemplate&) = delete;
    ~AttributeTemplate() {
        for (CK_ULONG i = 0; entries_ != nullptr && i < count_; ++i) std::free(entries_[i].pValue);
        std::free(entries_);
    }
    CK_ATTRIBUTE_PTR entries() const { return entries_; }
    CK_ULONG count() const { return count_; }

  private:
    CK_ATTRIBUTE_PTR entries_ = nullptr;
    CK_ULONG count_ = 0;
};

// A read template over one shared buffer: frees the buffer once, then the array.
class ReadTemplate {
  public:
    ReadTemplate() = default;
    ReadTemplate(JNIEnv* env, jintArray types) : ReadTemplate() {
        if (types != nullptr) Attribute2CKAttribute_Get(env, types, &entries_, &count_);
    }
    ReadTemplate(const ReadTemplate&) = delete;
    ReadTemplate& operator=(const ReadTemplate&) = delete;
    ~ReadTemplate() {
        if (entries_ != nullptr && count_ > 0) std::free(entries_[0].pValue);
        std::free(entries_);
    }
    CK_ATTRIBUTE& operator[](CK_ULONG i) const { return entries_[i]; }
    CK_ULONG count() const { return count_; }

  private:
    CK_ATTRIBUTE_PTR entries_ = nullptr;
    CK_ULONG count_ = 0;
};

// One read entry with its own buffer.
class ReadEntry {
  public:
    ReadEntry(JNIEnv* env, jint type) { Attribute2CKAttribute_Get(env, type, &entry_); }
    ReadEntry(const ReadEntry&) = delete;
    ReadEntry& operator=(const ReadEntry&) = delete;
    ~ReadEntry() { std::free(entry_.pValue); }
    CK_ATTRIBUTE& get() { return entry_; }

  private:
    CK_ATTRIBUTE entry_{};
};

// Outcome of reading one attribute of an object.
enum class ReadOutcome { kRead, kModuleFailed, kLengthBeyondBuffer, kLengthBeyondJavaArray };

// Reads one attribute into entry (primed first), converting the value. A
// value longer than the read buffer is asked for its length and read again
// into a buffer of exactly that length. rv receives the module's last answer;
// site is the value's range check's position within the calling method.
ReadOutcome readAttribute(JNIEnv* env, CK_FUNCTION_LIST_PTR module, CK_SESSION_HANDLE session,
                          CK_OBJECT_HANDLE object, CK_ATTRIBUTE& entry, CK_RV& rv, jobject& value,
                          int site);
