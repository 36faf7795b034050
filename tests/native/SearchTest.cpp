// Object search: batches, every match returned, handles of every width.
#include <cstring>
#include <string>
#include <vector>

#include "BridgeTest.h"
#include "UlongWidth.h"

namespace kt {
namespace {

class SearchTest : public BridgeTest {
protected:
    void SetUp() override {
        BridgeTest::SetUp();
        loadAndInitialize(mock);
        session = Java_qorvik_nat_NativeSlot_J_1OpenSession__I(env, newSlot(1), CKF_SERIAL_SESSION);
        ASSERT_NE(session, nullptr);
    }
    // Adds n objects labelled `label`, each with a CKA_ID of its index.
    std::vector<CK_OBJECT_HANDLE> addObjects(int n, const std::string& label) {
        std::vector<CK_OBJECT_HANDLE> handles;
        for (int i = 0; i < n; ++i) {
            std::string id = std::to_string(i);
            std::string lbl = label;
            CK_ATTRIBUTE t[] = {{CKA_LABEL, lbl.data(), lbl.size()}, {CKA_ID, id.data(), id.size()}};
            handles.push_back(mock.p11mock_add_object(t, 2));
        }
        return handles;
    }
    jobjectArray byLabel(const std::string& label) {
        return attributeArray({{CKA_LABEL, javaBytes(label)}});
    }
    jlongArray find(jobjectArray tmpl) {
        return Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2(env, session,
                                                                                   tmpl);
    }
    jobjectArray findWith(jobjectArray tmpl, jintArray types) {
        return Java_qorvik_nat_NativeSession_J_1FindObjects___3Lqorvik_Attribute_2_3I(env, session,
                                                                                      tmpl, types);
    }
    std::vector<jlong> longs(jlongArray a) {
        std::vector<jlong> out(static_cast<std::size_t>(env->GetArrayLength(a)));
        env->GetLongArrayRegion(a, 0, static_cast<jsize>(out.size()), out.data());
        return out;
    }

    const Mock& mock = plainMock();
    jobject session = nullptr;
};

TEST_F(SearchTest, BatchesOfFiftyAndEveryMatchReturned) {
    struct Case {
        int matches;
        std::size_t calls;
    } cases[] = {{0, 1}, {50, 2}, {51, 2}, {120, 3}, {2500, 51}};
    for (const Case& c : cases) {
        const std::string label = "batch-" + std::to_string(c.matches);
        const std::vector<CK_OBJECT_HANDLE> added = addObjects(c.matches, label);
        mock.p11mock_log_clear();
        jlongArray found = find(byLabel(label));
        expectNoException();
        EXPECT_EQ(mock.p11mock_log_count("C_FindObjects"), c.calls) << c.matches << " matches";
        EXPECT_EQ(mock.p11mock_log_count("C_FindObjectsFinal"), 1u);
        if (c.matches == 0) {
            EXPECT_EQ(found, nullptr) << "no match gives null";
            continue;
        }
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(longs(found), std::vector<jlong>(added.begin(), added.end()));
        const long last = mock.p11mock_log_last("C_FindObjects");
        EXPECT_EQ(mock.p11mock_log_arg(static_cast<size_t>(last), 2), 50u) << "asks for 50";
    }
}

TEST_F(SearchTest, LargeResultsWithAttributesToo) {
    const std::vector<CK_OBJECT_HANDLE> added = addObjects(1030, "wide");
    jobjectArray objects = findWith(byLabel("wide"), intArray({CKA_ID}));
    expectNoException();
    ASSERT_NE(objects, nullptr);
    ASSERT_EQ(env->GetArrayLength(objects), 1030);
    jobject last = env->GetObjectArrayElement(objects, 1029);
    EXPECT_EQ(static_cast<CK_ULONG>(callLong(last, "getHandle")), added.back());
    jobjectArray attrs = static_cast<jobjectArray>(
        callObject(last, "getAttributes", "()[Lqorvik/Attribute;"));
    ASSERT_NE(attrs, nullptr);
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(attributeValue(env->GetObjectArrayElement(attrs, 0)))),
              "1029");
}

TEST_F(SearchTest, NullTemplateFindsEverything) {
    addObjects(3, "any");
    mock.p11mock_log_clear();
    jlongArray all = find(nullptr);
    expectNoException();
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(static_cast<CK_ULONG>(env->GetArrayLength(all)), mock.p11mock_object_count());
    EXPECT_EQ(mock.lastArg("C_FindObjectsInit", 2), 0u);
}

TEST_F(SearchTest, FailingFindObjectsLeavesTheSearchActive) {
    addObjects(2, "fail");
    mock.p11mock_log_clear();
    mock.p11mock_fail_next("C_FindObjects", CKR_DEVICE_ERROR);
    EXPECT_EQ(find(byLabel("fail")), nullptr);
    expectRv("J_FindObjects", CKR_DEVICE_ERROR);
    EXPECT_EQ(mock.p11mock_log_count("C_FindObjectsFinal"), 0u);
}

TEST_F(SearchTest, FailingInitOrFinal) {
    mock.p11mock_fail_next("C_FindObjectsInit", CKR_TEMPLATE_INCONSISTENT);
    EXPECT_EQ(find(byLabel("x")), nullptr);
    expectRv("J_FindObjects", CKR_TEMPLATE_INCONSISTENT);
    addObjects(2, "final");
    mock.p11mock_fail_next("C_FindObjectsFinal", CKR_FUNCTION_FAILED);
    EXPECT_EQ(find(byLabel("final")), nullptr);
    expectRv("J_FindObjects", CKR_FUNCTION_FAILED);
}

TEST_F(SearchTest, ACountLargerThanTheBatchIsRefused) {
    addObjects(60, "lie");
    mock.p11mock_report_len_next("C_FindObjects", 51);
    mock.p11mock_log_clear();
    EXPECT_EQ(find(byLabel("lie")), nullptr);
    expectFailure("J_FindObjects", 5, "Module returned a length larger than the buffer");
    EXPECT_EQ(mock.p11mock_log_count("C_FindObjectsFinal"), 1u) << "the bridge ends its search";
}

TEST_F(SearchTest, HandlesOfEveryWidth) {
    mock.p11mock_set_object_handle_base(0xFFFFFFF0ul);
    const auto low = addObjects(1, "h");
    // Above 32 bits where CK_ULONG has them; 5 where it does not.
    const CK_ULONG highBase = ulong_width::held(0x1'0000'0005ull);
    mock.p11mock_set_object_handle_base(highBase);
    const auto high = addObjects(1, "h");
    jlongArray found = find(byLabel("h"));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(longs(found), (std::vector<jlong>{0xFFFFFFF0ll, ulong_width::asJlong(highBase)}))
        << "the long array carries handles whole";

    jobjectArray objects = findWith(byLabel("h"), intArray({}));
    expectNoException();
    ASSERT_NE(objects, nullptr);
    jobject first = env->GetObjectArrayElement(objects, 0);
    EXPECT_EQ(callLong(first, "getHandle"), 0xFFFFFFF0ll) << "unsigned, not sign-extended";
    EXPECT_EQ(callLong(env->GetObjectArrayElement(objects, 1), "getHandle"), 5)
        << "CryptokiObject gets the low 32 bits";
    EXPECT_EQ(callObject(first, "getAttributes", "()[Lqorvik/Attribute;"), nullptr)
        << "no types asked for: no attribute array";
    (void)low;
    (void)high;
}

TEST_F(SearchTest, AttributeReadsThatFailGiveNullValues) {
    std::string big(5000, 'B');
    std::string label = "mixed";
    CK_ATTRIBUTE t[] = {{CKA_LABEL, label.data(), label.size()}, {CKA_VALUE, big.data(), big.size()}};
    const CK_OBJECT_HANDLE object = mock.p11mock_add_object(t, 2);
    mock.p11mock_set_sensitive(object, CKA_SUBJECT);

    jobjectArray objects =
        findWith(byLabel("mixed"), intArray({CKA_ID, CKA_VALUE, CKA_LABEL}));
    expectNoException();
    ASSERT_NE(objects, nullptr);
    jobjectArray attrs = static_cast<jobjectArray>(callObject(
        env->GetObjectArrayElement(objects, 0), "getAttributes", "()[Lqorvik/Attribute;"));
    ASSERT_EQ(env->GetArrayLength(attrs), 3);
    EXPECT_EQ(attributeValue(env->GetObjectArrayElement(attrs, 0)), nullptr) << "type missing";
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(attributeValue(env->GetObjectArrayElement(attrs, 1)))),
              big)
        << "read whole";
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(attributeValue(env->GetObjectArrayElement(attrs, 2)))),
              "mixed");

    // A module claiming more than it was given: that value is null, the rest stands.
    mock.p11mock_report_len_next("C_GetAttributeValue", 4000);
    objects = findWith(byLabel("mixed"), intArray({CKA_LABEL, CKA_LABEL}));
    expectNoException();
    ASSERT_NE(objects, nullptr);
    attrs = static_cast<jobjectArray>(callObject(env->GetObjectArrayElement(objects, 0),
                                                 "getAttributes", "()[Lqorvik/Attribute;"));
    EXPECT_EQ(attributeValue(env->GetObjectArrayElement(attrs, 0)), nullptr);
    EXPECT_EQ(bytesOf(static_cast<jbyteArray>(attributeValue(env->GetObjectArrayElement(attrs, 1)))),
              "mixed");
}

TEST_F(SearchTest, NullTypesBehaveAsEmpty) {
    addObjects(2, "nt");
    jobjectArray objects = findWith(byLabel("nt"), nullptr);
    expectNoException();
    ASSERT_NE(objects, nullptr);
    EXPECT_EQ(env->GetArrayLength(objects), 2);
    EXPECT_EQ(callObject(env->GetObjectArrayElement(objects, 0), "getAttributes",
                         "()[Lqorvik/Attribute;"),
              nullptr);
}

TEST_F(SearchTest, FailingSearchesLeakNothing) {
    // Under the sanitizer build a template kept by a failing search is a leak.
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(env->PushLocalFrame(32), JNI_OK);
        mock.p11mock_fail_next("C_FindObjectsInit", CKR_TEMPLATE_INCONSISTENT);
        EXPECT_EQ(findWith(attributeArray({{CKA_LABEL, str("x")}, {CKA_CLASS, javaInteger(1)}}),
                           intArray({CKA_LABEL})),
                  nullptr);
        expectRv("J_FindObjects", CKR_TEMPLATE_INCONSISTENT);
        EXPECT_EQ(find(attributeArray({{CKA_LABEL, javaLong(3)}})), nullptr);
        expectFailure("J_FindObjects", 5, "Attribute2CKAttribute - unsupported value class");
        env->PopLocalFrame(nullptr);
    }
}

}  // namespace
}  // namespace kt
