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

class BrokenSlotClassesTest : public BrokenClasspathTest {
protected:
    void SetUp() override {
        BrokenClasspathTest::SetUp();
        loadAndInitialize(plainMock());
        // The broken NativeSlot has no (I)V constructor: fill the field directly.
        slot = newObject("qorvik/nat/NativeSlot");
        jclass cls = env->GetObjectClass(slot);
        env->SetIntField(slot, env->GetFieldID(cls, "m_slotID", "I"), 1);
    }
    jobject slot = nullptr;
};

TEST_F(BrokenSlotClassesTest, SlotAndTokenQueries) {
    EXPECT_EQ(Java_qorvik_nat_NativeSlot_J_1GetSlotInfo(env, slot), nullptr);
    expectFailure("J_GetSlotInfo", 5, "Class 'qorvik/SlotInfo' not found");
    EXPECT_EQ(Java_qorvik_nat_NativeSlot_J_1GetTokenInfo(env, slot), nullptr);
    expectFailure("J_GetTokenInfo", 5, "Version constructor not found");
    EXPECT_EQ(plainMock().p11mock_log_count("C_GetTokenInfo"), 0u) << "lookups come first";
}

TEST_F(BrokenSlotClassesTest, SessionMethodsOnASessionWithoutItsHandleField) {
    jobject session = Java_qorvik_nat_NativeSlot_J_1OpenSession__I(env, slot, CKF_SERIAL_SESSION);
    expectNoException();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1GetSessionInfo(env, session), nullptr);
    expectFailure("J_GetSessionInfo", 5, "Field m_sessionHandle' not found");
    Java_qorvik_nat_NativeSession_J_1Login(env, session, CKU_USER, str("1234"));
    expectFailure("J_Login", 5, "Field m_sessionHandle' not found");
    Java_qorvik_nat_NativeSession_J_1CloseSession(env, session);
    expectFailure("J_CloseSession", 5, "Field m_sessionHandle' not found");
}

TEST_F(BrokenSlotClassesTest, ObjectMethodsWithoutTheAttributeValueField) {
    jobject session = newObject("qorvik/nat/NativeSession");
    jclass attributeClass = env->FindClass("qorvik/Attribute");
    jobject attribute = env->NewObject(
        attributeClass, env->GetMethodID(attributeClass, "<init>", "(ILjava/lang/Object;)V"),
        static_cast<jint>(CKA_LABEL), str("x"));
    jobjectArray attributes = env->NewObjectArray(1, attributeClass, attribute);
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1CreateObject(env, session, attributes), 0);
    expectFailure("J_CreateObject", 5, "Field value not found");
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2_3I(
                  env, session, attributes, nullptr),
              nullptr);
    expectFailure("J_FindObjects", 5, "Field value not found");
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2(env, session,
                                                                                  nullptr),
              nullptr);
    expectFailure("J_FindObjects", 5, "Field m_sessionHandle' not found");
    EXPECT_EQ(plainMock().p11mock_log_count("C_FindObjectsInit"), 0u);
}

TEST_F(BrokenSlotClassesTest, MechanismWithAParameterFieldOfTheWrongType) {
    jobject session = newObject("qorvik/nat/NativeSession");
    jobject mechanism = newObject("qorvik/Mechanism");
    plainMock().p11mock_log_clear();
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1Encrypt__JZLqorvik_Mechanism_2J_3BII(
                  env, session, 1, JNI_TRUE, mechanism, 1, nullptr, 0, 0),
              nullptr);
    expectFailure("J_EncryptInit", 5, "Field parameter not found");
    EXPECT_EQ(Java_qorvik_nat_NativeSession_J_1GenerateKey(env, session, mechanism, nullptr), 0);
    expectFailure("J_GenerateKey", 5, "Field parameter not found");
    EXPECT_EQ(plainMock().p11mock_log_count("C_EncryptInit"), 0u);
}

}  // namespace
}  // namespace kt
