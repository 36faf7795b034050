#include "CountingEnv.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kt {
namespace {

CountingEnv* g_active = nullptr;

const char* const kNames[kAccessorCount] = {
    "BooleanArrayElements",   "ByteArrayElements", "CharArrayElements",  "ShortArrayElements",
    "IntArrayElements",       "LongArrayElements", "FloatArrayElements", "DoubleArrayElements",
    "PrimitiveArrayCritical", "StringCritical",    "StringUTFChars",     "StringChars",
};

bool givesBack(jint mode) {
    return mode != JNI_COMMIT;
}

#define KT_COUNTED_ARRAY(Type, jtype)                                                           \
    jtype* JNICALL get##Type##ArrayElements(JNIEnv* e, jtype##Array a, jboolean* isCopy) {      \
        CountingEnv& c = CountingEnv::active();                                                 \
        jtype* p = c.real().Get##Type##ArrayElements(e, a, isCopy);                             \
        if (p != nullptr) c.noteGet(Accessor::Type##ArrayElements, p);                          \
        return p;                                                                               \
    }                                                                                           \
    void JNICALL release##Type##ArrayElements(JNIEnv* e, jtype##Array a, jtype* p, jint mode) { \
        CountingEnv& c = CountingEnv::active();                                                 \
        if (givesBack(mode)) c.noteRelease(Accessor::Type##ArrayElements, p);                   \
        c.real().Release##Type##ArrayElements(e, a, p, mode);                                   \
    }

KT_COUNTED_ARRAY(Boolean, jboolean)
KT_COUNTED_ARRAY(Byte, jbyte)
KT_COUNTED_ARRAY(Char, jchar)
KT_COUNTED_ARRAY(Short, jshort)
KT_COUNTED_ARRAY(Int, jint)
KT_COUNTED_ARRAY(Long, jlong)
KT_COUNTED_ARRAY(Float, jfloat)
KT_COUNTED_ARRAY(Double, jdouble)
#undef KT_COUNTED_ARRAY

void* JNICALL getPrimitiveArrayCritical(JNIEnv* e, jarray a, jboolean* isCopy) {
    CountingEnv& c = CountingEnv::active();
    void* p = c.real().GetPrimitiveArrayCritical(e, a, isCopy);
    if (p != nullptr) c.noteGet(Accessor::PrimitiveArrayCritical, p);
    return p;
}
void JNICALL releasePrimitiveArrayCritical(JNIEnv* e, jarray a, void* p, jint mode) {
    CountingEnv& c = CountingEnv::active();
    if (givesBack(mode)) c.noteRelease(Accessor::PrimitiveArrayCritical, p);
    c.real().ReleasePrimitiveArrayCritical(e, a, p, mode);
}

const jchar* JNICALL getStringCritical(JNIEnv* e, jstring s, jboolean* isCopy) {
    CountingEnv& c = CountingEnv::active();
    const jchar* p = c.real().GetStringCritical(e, s, isCopy);
    if (p != nullptr) c.noteGet(Accessor::StringCritical, p);
    return p;
}
void JNICALL releaseStringCritical(JNIEnv* e, jstring s, const jchar* p) {
    CountingEnv& c = CountingEnv::active();
    c.noteRelease(Accessor::StringCritical, p);
    c.real().ReleaseStringCritical(e, s, p);
}

const char* JNICALL getStringUTFChars(JNIEnv* e, jstring s, jboolean* isCopy) {
    CountingEnv& c = CountingEnv::active();
    const char* p = c.real().GetStringUTFChars(e, s, isCopy);
    if (p != nullptr) c.noteGet(Accessor::StringUTFChars, p);
    return p;
}
void JNICALL releaseStringUTFChars(JNIEnv* e, jstring s, const char* p) {
    CountingEnv& c = CountingEnv::active();
    c.noteRelease(Accessor::StringUTFChars, p);
    c.real().ReleaseStringUTFChars(e, s, p);
}

const jchar* JNICALL getStringChars(JNIEnv* e, jstring s, jboolean* isCopy) {
    CountingEnv& c = CountingEnv::active();
    const jchar* p = c.real().GetStringChars(e, s, isCopy);
    if (p != nullptr) c.noteGet(Accessor::StringChars, p);
    return p;
}
void JNICALL releaseStringChars(JNIEnv* e, jstring s, const jchar* p) {
    CountingEnv& c = CountingEnv::active();
    c.noteRelease(Accessor::StringChars, p);
    c.real().ReleaseStringChars(e, s, p);
}

}  // namespace

const char* accessorName(Accessor a) {
    return kNames[static_cast<std::size_t>(a)];
}

CountingEnv::CountingEnv(JNIEnv* env)
    : env_(env), original_(env->functions), table_(*env->functions) {
    if (g_active != nullptr) ADD_FAILURE() << "CountingEnv does not nest";
    g_active = this;
#define KT_WRAP(Type)                                           \
    table_.Get##Type##ArrayElements = get##Type##ArrayElements; \
    table_.Release##Type##ArrayElements = release##Type##ArrayElements;
    KT_WRAP(Boolean)
    KT_WRAP(Byte)
    KT_WRAP(Char)
    KT_WRAP(Short)
    KT_WRAP(Int)
    KT_WRAP(Long)
    KT_WRAP(Float)
    KT_WRAP(Double)
#undef KT_WRAP
    table_.GetPrimitiveArrayCritical = getPrimitiveArrayCritical;
    table_.ReleasePrimitiveArrayCritical = releasePrimitiveArrayCritical;
    table_.GetStringCritical = getStringCritical;
    table_.ReleaseStringCritical = releaseStringCritical;
    table_.GetStringUTFChars = getStringUTFChars;
    table_.ReleaseStringUTFChars = releaseStringUTFChars;
    table_.GetStringChars = getStringChars;
    table_.ReleaseStringChars = releaseStringChars;
    env_->functions = &table_;
}

CountingEnv::~CountingEnv() {
    env_->functions = original_;
    if (g_active == this) g_active = nullptr;
}

CountingEnv& CountingEnv::active() {
    return *g_active;
}

long CountingEnv::totalGets() const {
    long total = 0;
    for (long g : gets_) total += g;
    return total;
}

void CountingEnv::noteGet(Accessor a, const void* p) {
    ++gets_[index(a)];
    outstanding_.emplace(p, a);
}

void CountingEnv::noteRelease(Accessor a, const void* p) {
    ++releases_[index(a)];
    auto range = outstanding_.equal_range(p);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == a) {
            outstanding_.erase(it);
            return;
        }
    }
    ++stray_;
}

std::string CountingEnv::report() const {
    std::ostringstream out;
    std::array<long, kAccessorCount> open{};
    for (const auto& entry : outstanding_) ++open[index(entry.second)];
    for (std::size_t i = 0; i < kAccessorCount; ++i) {
        if (open[i] == 0 && gets_[i] == releases_[i]) continue;
        if (out.tellp() > 0) out << "; ";
        out << kNames[i] << " " << gets_[i] << " gets " << releases_[i] << " releases " << open[i]
            << " outstanding";
    }
    if (stray_ != 0) out << (out.tellp() > 0 ? "; " : "") << stray_ << " stray releases";
    return out.str();
}

void CountingEnv::reset() {
    gets_.fill(0);
    releases_.fill(0);
    outstanding_.clear();
    stray_ = 0;
}

}  // namespace kt
