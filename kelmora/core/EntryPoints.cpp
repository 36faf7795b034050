// The module as a whole: initialise, finalise, describe, list slots and wait
// for slot events.
#include <cstdlib>
#include <vector>

#include "../jni_methods.h"
#include "../kelmora.h"
#include "JavaContract.h"
#include "JniGuards.h"
#include "Platform.h"

namespace {

// Forgets the module after a successful C_Finalize; on Linux and macOS it is
// also unloaded, whatever the last load asked.
void dropModule() {
    if (hLibModule != nullptr) platform::releaseAfterFinalize(hLibModule);
    hLibModule = nullptr;
    functionList = nullptr;
    bInitialized = CK_FALSE;
}

jobject newNativeSlot(JNIEnv* env, jclass slotClass, jmethodID ctor, CK_SLOT_ID slot,
                      const char* message) {
    return require(env, env->NewObject(slotClass, ctor, lowJint(slot)), message);
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_qorvik_nat_NativeCryptoki_Initialize(JNIEnv* env, jobject, jobject) {
    LogFunction("Initialize : entering...", 0);
    CK_RV rv = CKR_OK;
    guardedVoid(env, "J_Initialize", [&] {
        try {
            if (moduleInitialized()) fail(static_cast<CK_RV>(CKR_CRYPTOKI_ALREADY_INITIALIZED));
            LogFunction("Initialize : before Token call.", 0);
            // After Finalize (or a failed C_Finalize) the module is loaded again;
            // before any successful load there is nothing to remember.
            if (functionList == nullptr) {
                loadLibrary(sLibName[0] != '\0' ? sLibName : nullptr, freeLibrary, 0);
            }
            rv = functionList->C_Initialize(NULL_PTR);
            LogFunction("Initialize : after Token call.", rv);
            if (rv != CKR_OK) fail(rv);
            bInitialized = CK_TRUE;
            LogFunction("Initialize : ...finished.", rv);
        } catch (const ReturnValueFailure& f) {
            LogFunction("Initialize : exception.", f.rv);
            throw;
        } catch (...) {
            LogFunction("Initialize : exception.", rv);
            throw;
        }
    });
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeCryptoki_Finalize(JNIEnv* env, jobject, jobject) {
    LogFunction("Finalize : entering...", 0);
    guardedVoid(env, "J_Finalize", [&] {
        try {
            CK_FUNCTION_LIST_PTR module = requireModule();
            LogFunction("Finalize : before C_Finalize call", 0);
            const CK_RV rv = module->C_Finalize(NULL_PTR);
            LogFunction("Finalize : C_Finalize call passed.", rv);
            if (rv != CKR_OK) fail(rv);
            dropModule();
        } catch (...) {
            // The function list is dropped on failure too; the flag stays, and
            // the next Initialize loads the module again.
            functionList = nullptr;
            throw;
        }
    });
    LogFunction("Finalize : finished.", 0);
}

JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeCryptoki_GetInfo(JNIEnv* env, jobject) {
    LogFunction("GetInfo : entering...", 0);
    return guarded(env, "J_GetInfo", jobject{nullptr}, [&]() -> jobject {
        CK_FUNCTION_LIST_PTR module = requireModule();
        LocalRef<jclass> infoClass(
            env, findClass(env, "qorvik/Info", "Class 'qorvik/nat/NativeInfo' not found"));
        LocalRef<jclass> stringClass(
            env, findClass(env, "java/lang/String", "Class 'java/lang/String' not found"));
        LocalRef<jclass> versionClass(
            env, findClass(env, "qorvik/Version", "Class 'qorvik/Version' not found"));
        jmethodID infoCtor =
            findMethod(env, infoClass.get(), "<init>",
                       "(Lqorvik/Version;ILjava/lang/String;Lqorvik/Version;Ljava/lang/String;)V",
                       "NativeInfo constructor not found");
        jmethodID stringCtor =
            findMethod(env, stringClass.get(), "<init>", "([B)V", "String constructor not found");
        jmethodID versionCtor =
            findMethod(env, versionClass.get(), "<init>", "(II)V", "Version constructor not found");

        CK_INFO info{};
        const CK_RV rv = module->C_GetInfo(&info);
        if (rv != CKR_OK) fail(rv);

        LocalRef<jbyteArray> descBytes(
            env, require(env, env->NewByteArray(sizeof info.libraryDescription),
                         "libraryDescArray is NULL"));
        LocalRef<jbyteArray> manufBytes(env,
                                        require(env, env->NewByteArray(sizeof info.manufacturerID),
                                                "manufactuIDArray is NULL"));
        env->SetByteArrayRegion(descBytes.get(), 0, sizeof info.libraryDescription,
                                reinterpret_cast<const jbyte*>(info.libraryDescription));
        env->SetByteArrayRegion(manufBytes.get(), 0, sizeof info.manufacturerID,
                                reinterpret_cast<const jbyte*>(info.manufacturerID));
        LocalRef<jobject> description(
            env, require(env, env->NewObject(stringClass.get(), stringCtor, descBytes.get()),
                         "libraryDescription value is NULL"));
        LocalRef<jobject> manufacturer(
            env, require(env, env->NewObject(stringClass.get(), stringCtor, manufBytes.get()),
                         "manufacturerID value is NULL"));

        const jint flags = RANGE_CHECKED(env, info.flags, 1);
        LocalRef<jobject> libraryVersion(
            env, require(env, newVersion(env, versionClass.get(), versionCtor, libVersion),
                         "libraryVersion value is NULL"));
        LocalRef<jobject> cryptokiVersion(
            env,
            require(env, newVersion(env, versionClass.get(), versionCtor, info.cryptokiVersion),
                    "cryptokiVersion value is NULL"));
        return require(env,
                       env->NewObject(infoClass.get(), infoCtor, cryptokiVersion.get(), flags,
                                      description.get(), libraryVersion.get(), manufacturer.get()),
                       "NativeInfo object is NULL");
    });
}

JNIEXPORT jobjectArray JNICALL Java_qorvik_nat_NativeCryptoki_GetSlotList(JNIEnv* env, jobject,
                                                                          jboolean tokenPresent) {
    LogFunction("GetSlotList : entering...", 0);
    CK_RV rv = CKR_OK;
    jobjectArray result = guarded(env, "J_GetSlotList", jobjectArray{nullptr}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        const CK_BBOOL present = tokenPresent ? CK_TRUE : CK_FALSE;
        LocalRef<jclass> slotClass(env, findClass(env, "qorvik/nat/NativeSlot",
                                                  "Class 'qorvik/nat/NativeSlot' not found"));
        LogFunction("NATIVESLOT found!", 0);
        jmethodID slotCtor =
            findMethod(env, slotClass.get(), "<init>", "(I)V", "NativeSlot constructor not found");
        LogFunction("NATIVESLOT Constuctor found!", 0);

        CK_ULONG count = 0;
        rv = module->C_GetSlotList(present, NULL_PTR, &count);
        if (rv != CKR_OK) fail(rv);
        LogFunction("Slot count: %d", rv, static_cast<int>(count));

        requireJavaArrayLength(count);
        // At least one entry, so the second call never degrades into a query.
        std::vector<CK_SLOT_ID> slots(count > 0 ? count : 1);
        const CK_ULONG capacity = count;
        rv = module->C_GetSlotList(present, slots.data(), &count);
        if (rv != CKR_OK) fail(rv);
        checkReportedLength(count, capacity);
        LogFunction("Slot list retrieved!", rv);
#ifdef KELVANE_PLANT_LEAK
        // Lost on purpose in the leak-probe build: the sanitizer run must report it.
        volatile char* lost = static_cast<char*>(std::malloc(48));
        lost[0] = 1;
#endif

        const jint length = RANGE_CHECKED(env, count, 1);
        LogFunction("Slot list length: %ld, NativeClass: %X", rv, static_cast<long>(length),
                    slotClass.get());
        LocalRef<jobjectArray> array(
            env,
            require(env, env->NewObjectArray(length, slotClass.get(), nullptr), "SlotLis is NULL"));
        LogFunction("Array created!", rv);
        for (jint i = 0; i < length; ++i) {
            LocalRef<jobject> slot(env, newNativeSlot(env, slotClass.get(), slotCtor, slots[i],
                                                      "Slot object is NULL"));
            env->SetObjectArrayElement(array.get(), i, slot.get());
        }
        LogFunction("GetSlotList : ...finished.", rv);
        return array.release();
    });
    return result;
}

JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeCryptoki_WaitForSlotEvent(JNIEnv* env, jobject,
                                                                          jint flags, jobject) {
    LogFunction("WaitForSlotEvent : entering...", 0);
    return guarded(env, "J_WaitForSlotEvent", jobject{nullptr}, [&]() -> jobject {
        CK_FUNCTION_LIST_PTR module = requireModule();
        CK_SLOT_ID slot = 0;
        const CK_RV rv = module->C_WaitForSlotEvent(ulongFromJint(flags), &slot, NULL_PTR);
        if (rv != CKR_OK) fail(rv);
        LocalRef<jclass> slotClass(env, findClass(env, "qorvik/nat/NativeSlot",
                                                  "Class 'qorvik/nat/NativeSlot' not found"));
        jmethodID slotCtor =
            findMethod(env, slotClass.get(), "<init>", "(I)V", "NativeSlot constructor not found");
        jobject result =
            newNativeSlot(env, slotClass.get(), slotCtor, slot, "NativeSlot object is NULL");
        LogFunction("WaitForSlotEvent : ...finished.", rv);
        return result;
    });
}

}  // extern "C"
