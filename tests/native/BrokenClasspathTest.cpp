// Runs against contract classes that are missing or have the wrong shape:
// every lookup failure must surface as the bridge's own message.
#include "BridgeTest.h"

namespace kt {
namespace {

class BrokenClasspathTest : public BridgeTest {};

TEST_F(BrokenClasspathTest, MissingInfoClass) {
    loadAndInitialize(plainMock());
    EXPECT_EQ(Java_qorvik_nat_NativeCryptoki_GetInfo(env, cryptoki), nullptr);
    expectFailure("J_GetInfo", 5, "Class 'qorvik/nat/NativeInfo' not found");
}

TEST_F(BrokenClasspathTest, SlotWithoutIntConstructor) {
    loadAndInitialize(plainMock());
    EXPECT_EQ(Java_qorvik_nat_NativeCryptoki_GetSlotList(env, cryptoki, JNI_FALSE), nullptr);
    expectFailure("J_GetSlotList", 5, "NativeSlot constructor not found");

    plainMock().p11mock_push_slot_event(1);
    EXPECT_EQ(Java_qorvik_nat_NativeCryptoki_WaitForSlotEvent(env, cryptoki, 0, nullptr), nullptr);
    expectFailure("J_WaitForSlotEvent", 5, "NativeSlot constructor not found");
}

TEST_F(BrokenClasspathTest, SessionHandleFieldOfTheWrongType) {
    jobject session = newObject("qorvik/nat/NativeSession");
    ASSERT_NE(session, nullptr);
    try {
        Session2CKSession(env, session);
        ADD_FAILURE() << "expected a failure";
    } catch (const MessageFailure& f) {
        EXPECT_STREQ(f.message, "Field m_sessionHandle' not found");
    }
    EXPECT_FALSE(env->ExceptionCheck()) << "the JVM's own error is cleared";
}

}  // namespace
}  // namespace kt
