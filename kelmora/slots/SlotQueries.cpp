// Slot, token and mechanism information of one slot.
#include <vector>

#include "../core/JavaContract.h"
#include "../jni_methods.h"
#include "SlotSupport.h"

namespace {

// What the slot and token queries look up, in their order: the slot class,
// the info class, the Version class, the slot field, the two constructors.
struct InfoLookups {
    InfoLookups(JNIEnv* env, jobject self, const char* infoPath, const char* infoMissing,
                const char* infoSignature, const char* ctorMissing)
        : env(env),
          slotClass(env, findClass(env, "qorvik/nat/NativeSlot",
                                   "Class 'qorvik/nat/NativeSlot' not found")),
          infoClass(env, findClass(env, infoPath, infoMissing)),
          versionClass(env, findClass(env, "qorvik/Version", "Class 'qorvik/Version' not found")),
          slot(readSlotId(env, self, slotClass.get(), "m_slotID field not found")),
          infoCtor(findMethod(env, infoClass.get(), "<init>", infoSignature, ctorMissing)),
          versionCtor(findMethod(env, versionClass.get(), "<init>", "(II)V",
                                 "Version constructor not found")) {}

    jobject version(const CK_VERSION& v) const {
        return newVersion(env, versionClass.get(), versionCtor, v);
    }

    JNIEnv* env;
    LocalRef<jclass> slotClass;
    LocalRef<jclass> infoClass;
    LocalRef<jclass> versionClass;
    CK_SLOT_ID slot;
    jmethodID infoCtor;
    jmethodID versionCtor;
};

}  // namespace

extern "C" {

JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeSlot_J_1GetSlotInfo(JNIEnv* env, jobject self) {
    LogFunction("J_1GetSlotInfo : entering...", 0);
    CK_RV rv = CKR_OK;
    jobject result = guarded(env, "J_GetSlotInfo", jobject{nullptr}, [&]() -> jobject {
        CK_FUNCTION_LIST_PTR module = requireModule();
        const InfoLookups java(env, self, "qorvik/SlotInfo", "Class 'qorvik/SlotInfo' not found",
                               "(Ljava/lang/String;Ljava/lang/String;ILqorvik/Version;Lqorvik/"
                               "Version;)V",
                               "SlotInfo constructor not found");
        const CK_SLOT_ID slot = java.slot;

        CK_SLOT_INFO info{};
        rv = module->C_GetSlotInfo(slot, &info);
        if (rv != CKR_OK) fail(rv);

        LocalRef<jstring> description(
            env, fixedText(env, info.slotDescription, "jslotDescription object is NULL"));
        LocalRef<jstring> manufacturer(
            env, fixedText(env, info.manufacturerID, "jmanufacturerID object is NULL"));
        LocalRef<jobject> hardware(env, require(env, java.version(info.hardwareVersion),
                                                "HardwareVersion object is NULL"));
        LocalRef<jobject> firmware(env, require(env, java.version(info.firmwareVersion),
                                                "FirmwareVersion object is NULL"));
        const jint flags = RANGE_CHECKED(env, info.flags, 1);
        return require(env,
                       env->NewObject(java.infoClass.get(), java.infoCtor, description.get(),
                                      manufacturer.get(), flags, hardware.get(), firmware.get()),
                       "SlotInfo object is NULL");
    });
    LogFunction("J_1GetSlotInfo : ...finished.", rv);
    return result;
}

JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeSlot_J_1GetTokenInfo(JNIEnv* env, jobject self) {
    LogFunction("J_1GetTokenInfo : entering...", 0);
    CK_RV rv = CKR_OK;
    jobject result = guarded(env, "J_GetTokenInfo", jobject{nullptr}, [&]() -> jobject {
        CK_FUNCTION_LIST_PTR module = requireModule();
        const InfoLookups java(env, self, "qorvik/TokenInfo", "Class 'qorvik/TokenInfo' not found",
                               "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/"
                               "String;IIIIIIIIIILqorvik/Version;Lqorvik/Version;Ljava/lang/"
                               "String;)V",
                               "TokenInfo constructor not found");
        const CK_SLOT_ID slot = java.slot;

        CK_TOKEN_INFO info{};
        rv = module->C_GetTokenInfo(slot, &info);
        if (rv != CKR_OK) fail(rv);

        // Structure order; the open-session count has no place in TokenInfo
        // but is range-checked like the others.
        const jint flags = TOKEN_INFO_VALUE(env, info.flags, 1);
        const jint maxSessions = TOKEN_INFO_VALUE(env, info.ulMaxSessionCount, 2);
        TOKEN_INFO_VALUE(env, info.ulSessionCount, 3);
        const jint maxRwSessions = TOKEN_INFO_VALUE(env, info.ulMaxRwSessionCount, 4);
        const jint rwSessions = TOKEN_INFO_VALUE(env, info.ulRwSessionCount, 5);
        const jint maxPin = TOKEN_INFO_VALUE(env, info.ulMaxPinLen, 6);
        const jint minPin = TOKEN_INFO_VALUE(env, info.ulMinPinLen, 7);
        const jint totalPublic = TOKEN_INFO_VALUE(env, info.ulTotalPublicMemory, 8);
        const jint freePublic = TOKEN_INFO_VALUE(env, info.ulFreePublicMemory, 9);
        const jint totalPrivate = TOKEN_INFO_VALUE(env, info.ulTotalPrivateMemory, 10);
        const jint freePrivate = TOKEN_INFO_VALUE(env, info.ulFreePrivateMemory, 11);

        LocalRef<jstring> label(env, fixedText(env, info.label, "jlabel object is NULL"));
        LocalRef<jstring> manufacturer(
            env, fixedText(env, info.manufacturerID, "jmanufacturerID object is NULL"));
        LocalRef<jstring> model(env, fixedText(env, info.model, "jmodel object is NULL"));
        LocalRef<jstring> serial(env,
                                 fixedText(env, info.serialNumber, "jserialnumber object is NULL"));
        LocalRef<jstring> utcTime(env, fixedText(env, info.utcTime, "jutctime object is NULL"));
        LocalRef<jobject> hardware(env, require(env, java.version(info.hardwareVersion),
                                                "HardwareVersion object is NULL"));
        LocalRef<jobject> firmware(env, require(env, java.version(info.firmwareVersion),
                                                "FirmwareVersion object is NULL"));
        return require(
            env,
            env->NewObject(java.infoClass.get(), java.infoCtor, label.get(), manufacturer.get(),
                           model.get(), serial.get(), flags, maxSessions, maxRwSessions, rwSessions,
                           maxPin, minPin, totalPublic, freePublic, totalPrivate, freePrivate,
                           hardware.get(), firmware.get(), utcTime.get()),
            "Pkcs11TokenInfo object is NULL");
    });
    LogFunction("J_1GetTokenInfo : ...finished.", rv);
    return result;
}

JNIEXPORT jintArray JNICALL Java_qorvik_nat_NativeSlot_J_1GetMechanismList(JNIEnv* env,
                                                                           jobject self) {
    LogFunction("J_1GetMechanismList : entering...", 0);
    CK_RV rv = CKR_OK;
    jintArray result = guarded(env, "J_GetMechanismList", jintArray{nullptr}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        LocalRef<jclass> slotClass(env, findClass(env, "qorvik/nat/NativeSlot",
                                                  "Class 'qorvik/nat/NativeSlot' not found"));
        const CK_SLOT_ID slot = readSlotId(env, self, slotClass.get(), "Field m_slotID not found");

        CK_ULONG count = 0;
        rv = module->C_GetMechanismList(slot, NULL_PTR, &count);
        if (rv != CKR_OK) fail(rv);
        requireJavaArrayLength(count);
        // At least one entry, so the second call never degrades into a query.
        std::vector<CK_MECHANISM_TYPE> types(count > 0 ? count : 1);
        const CK_ULONG capacity = count;
        rv = module->C_GetMechanismList(slot, types.data(), &count);
        if (rv != CKR_OK) fail(rv);
        checkReportedLength(count, capacity);

        const jint length = RANGE_CHECKED(env, count, 1);
        std::vector<jint> values(static_cast<std::size_t>(length));
        for (jint i = 0; i < length; ++i) values[i] = lowJint(types[i]);
        LocalRef<jintArray> array(env,
                                  require(env, env->NewIntArray(length), "jMechanismList is NULL"));
        env->SetIntArrayRegion(array.get(), 0, length, values.data());
        return array.release();
    });
    LogFunction("J_1GetMechanismList : ...finished.", rv);
    return result;
}

JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeSlot_J_1GetMechanismInfo(JNIEnv* env, jobject self,
                                                                         jint type) {
    LogFunction("J_1GetMechanismInfo : entering...", 0);
    CK_RV rv = CKR_OK;
    jobject result = guarded(env, "J_GetMechanismInfo", jobject{nullptr}, [&]() -> jobject {
        CK_FUNCTION_LIST_PTR module = requireModule();
        LocalRef<jclass> slotClass(env, findClass(env, "qorvik/nat/NativeSlot",
                                                  "Class 'qorvik/nat/NativeSlot' not found"));
        LocalRef<jclass> infoClass(
            env, findClass(env, "qorvik/MechanismInfo", "Class 'qorvik/MechanismInfo' not found"));
        const CK_SLOT_ID slot = readSlotId(env, self, slotClass.get(), "Field m_slotID not found");
        jmethodID infoCtor = findMethod(env, infoClass.get(), "<init>", "(III)V",
                                        "Pkcs11MechanismInfo constructor not found");

        // Zeroed first: some modules only set the bits and sizes that apply,
        // leaving the rest as they found it.
        CK_MECHANISM_INFO info{};
        rv = module->C_GetMechanismInfo(slot, ulongFromJint(type), &info);
        if (rv != CKR_OK) fail(rv);
        const jint maxKeySize = RANGE_CHECKED(env, info.ulMaxKeySize, 1);
        const jint minKeySize = RANGE_CHECKED(env, info.ulMinKeySize, 2);
        const jint flags = RANGE_CHECKED(env, info.flags, 3);
        return require(env,
                       env->NewObject(infoClass.get(), infoCtor, minKeySize, maxKeySize, flags),
                       "Pkcs11MechanismInfo object is NULL");
    });
    LogFunction("J_1GetMechanismInfo : ...finished.", rv);
    return result;
}

}  // extern "C"
