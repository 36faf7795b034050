// Runs bridge code under a JNI function table that counts every element and
// string accessor it takes against the releases it makes, so a test can
// check that a native method gave back every array and string it obtained,
// on success and on every failure path.
//
//     kt::CountingEnv counted(env);
//     Java_..._J_1Sign(counted.env(), ...);
//     EXPECT_EQ(counted.unreleased(), 0) << counted.report();
//
// The JVM finds the calling thread from the JNIEnv's own address, so a
// JNIEnv copy at another address would be refused by every function that is
// not wrapped. Instead, for the counter's lifetime the thread's own JNIEnv
// points at a copy of its table with the accessors replaced (the same
// interposition a JVMTI agent makes with SetJNIFunctionTable, limited to
// this thread); every other function, and -Xcheck:jni's checks, stay as
// they were. One counter at a time per process.
#pragma once

#include <jni.h>

#include <array>
#include <map>
#include <string>

namespace kt {

// The accessor pairs that are counted.
enum class Accessor {
    BooleanArrayElements,
    ByteArrayElements,
    CharArrayElements,
    ShortArrayElements,
    IntArrayElements,
    LongArrayElements,
    FloatArrayElements,
    DoubleArrayElements,
    PrimitiveArrayCritical,
    StringCritical,
    StringUTFChars,
    StringChars,
};
constexpr std::size_t kAccessorCount = 12;
const char* accessorName(Accessor a);

class CountingEnv {
  public:
    explicit CountingEnv(JNIEnv* env);
    ~CountingEnv();
    CountingEnv(const CountingEnv&) = delete;
    CountingEnv& operator=(const CountingEnv&) = delete;

    // The env to hand the code under test (the thread's own, now counting).
    JNIEnv* env() const { return env_; }

    // Successful gets, and releases that give the elements back (a
    // JNI_COMMIT release keeps them and is not counted).
    long gets(Accessor a) const { return gets_[index(a)]; }
    long releases(Accessor a) const { return releases_[index(a)]; }
    long totalGets() const;
    // Gets not yet released, all accessors together.
    long unreleased() const { return static_cast<long>(outstanding_.size()); }
    // Releases of a pointer this counter never handed out, handed out by
    // another accessor, or already released.
    long strayReleases() const { return stray_; }
    // The unbalanced accessors, e.g. "ByteArrayElements 2 gets 1 release";
    // empty when everything is balanced.
    std::string report() const;
    // Starts counting afresh (whatever is outstanding is forgotten).
    void reset();

    // Called by the wrapped table.
    static CountingEnv& active();
    const JNINativeInterface_& real() const { return *original_; }
    void noteGet(Accessor a, const void* p);
    void noteRelease(Accessor a, const void* p);

  private:
    static std::size_t index(Accessor a) { return static_cast<std::size_t>(a); }

    JNIEnv* env_;
    const JNINativeInterface_* original_;
    JNINativeInterface_ table_;
    std::array<long, kAccessorCount> gets_{};
    std::array<long, kAccessorCount> releases_{};
    std::multimap<const void*, Accessor> outstanding_;
    long stray_ = 0;
};

}  // namespace kt
