// The counting table itself: it must see an unbalanced accessor, or every
// "nothing unreleased" check of the sweeps proves nothing.
#include "BridgeTest.h"
#include "CountingEnv.h"

namespace kt {
namespace {

class CountingEnvTest : public BridgeTest {};

TEST_F(CountingEnvTest, ReportsAGetWithoutRelease) {
    jbyteArray bytes = javaBytes("abc");
    jstring text = str("pin");
    {
        CountingEnv counted(env);
        JNIEnv* e = counted.env();
        jbyte* elems = e->GetByteArrayElements(bytes, nullptr);
        const char* chars = e->GetStringUTFChars(text, nullptr);
        ASSERT_NE(elems, nullptr);
        ASSERT_NE(chars, nullptr);
        EXPECT_EQ(counted.unreleased(), 2);
        EXPECT_EQ(counted.gets(Accessor::ByteArrayElements), 1);
        EXPECT_NE(counted.report().find("ByteArrayElements 1 gets 0 releases"), std::string::npos)
            << counted.report();
        EXPECT_NE(counted.report().find("StringUTFChars"), std::string::npos) << counted.report();

        // A commit keeps the elements: still outstanding.
        e->ReleaseByteArrayElements(bytes, elems, JNI_COMMIT);
        EXPECT_EQ(counted.unreleased(), 2);
        e->ReleaseByteArrayElements(bytes, elems, JNI_ABORT);
        e->ReleaseStringUTFChars(text, chars);
        EXPECT_EQ(counted.unreleased(), 0);
        EXPECT_EQ(counted.strayReleases(), 0);
        EXPECT_EQ(counted.report(), "");
    }
    // The thread's own table is back: these calls are not counted anywhere.
    jbyte* elems = env->GetByteArrayElements(bytes, nullptr);
    env->ReleaseByteArrayElements(bytes, elems, JNI_ABORT);
}

TEST_F(CountingEnvTest, CountsEveryArrayKindAndTheCriticalAccessors) {
    CountingEnv counted(env);
    JNIEnv* e = counted.env();
    jintArray ints = e->NewIntArray(3);
    jlongArray longs = e->NewLongArray(3);
    jcharArray chars = e->NewCharArray(3);
    jstring text = e->NewStringUTF("x");
    jint* i = e->GetIntArrayElements(ints, nullptr);
    jlong* l = e->GetLongArrayElements(longs, nullptr);
    jchar* c = e->GetCharArrayElements(chars, nullptr);
    const jchar* s = e->GetStringChars(text, nullptr);
    EXPECT_EQ(counted.unreleased(), 4);
    e->ReleaseIntArrayElements(ints, i, 0);
    e->ReleaseLongArrayElements(longs, l, 0);
    e->ReleaseCharArrayElements(chars, c, 0);
    e->ReleaseStringChars(text, s);
    void* crit = e->GetPrimitiveArrayCritical(ints, nullptr);
    EXPECT_EQ(counted.gets(Accessor::PrimitiveArrayCritical), 1);
    EXPECT_EQ(counted.unreleased(), 1);
    e->ReleasePrimitiveArrayCritical(ints, crit, JNI_ABORT);
    const jchar* sc = e->GetStringCritical(text, nullptr);
    e->ReleaseStringCritical(text, sc);
    EXPECT_EQ(counted.totalGets(), 6);
    EXPECT_EQ(counted.unreleased(), 0) << counted.report();
}

TEST_F(CountingEnvTest, ReleaseUnderTheWrongAccessorIsStray) {
    CountingEnv counted(env);
    jbyteArray bytes = javaBytes("abcd");
    jbyte* elems = counted.env()->GetByteArrayElements(bytes, nullptr);
    counted.noteRelease(Accessor::IntArrayElements, elems);
    EXPECT_EQ(counted.strayReleases(), 1);
    EXPECT_EQ(counted.unreleased(), 1);
    counted.env()->ReleaseByteArrayElements(bytes, elems, JNI_ABORT);
    EXPECT_EQ(counted.unreleased(), 0);
}

}  // namespace
}  // namespace kt
