// Creating, copying and destroying objects; their size and attributes.
#include "../convert/AttributeTemplate.h"
#include "../core/JavaContract.h"
#include "../core/JniGuards.h"
#include "../jni_methods.h"

namespace {

jobject newAttribute(JNIEnv* env, jclass attributeClass, jmethodID ctor, CK_ATTRIBUTE_TYPE type,
                     jobject value, const char* message) {
    return require(env, env->NewObject(attributeClass, ctor, lowJint(type), value), message);
}

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_qorvik_nat_NativeSession_J_1CreateObject(JNIEnv* env, jobject self,
                                                                      jobjectArray jTemplate) {
    LogFunction("J_1CreateObject: entering...", 0);
    CK_RV rv = CKR_OK;
    jlong result = guarded(env, "J_CreateObject", jlong{0}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        AttributeTemplate tmpl(env, jTemplate);
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        CK_OBJECT_HANDLE object = 0;
        rv = module->C_CreateObject(session, tmpl.entries(), tmpl.count(), &object);
        if (rv != CKR_OK) fail(rv);
        return static_cast<jlong>(object);
    });
    LogFunction("J_CreateObject: ...finished.", rv);
    return result;
}

JNIEXPORT jlong JNICALL Java_qorvik_nat_NativeSession_J_1CopyObject(JNIEnv* env, jobject self,
                                                                    jlong jObject,
                                                                    jobjectArray jTemplate) {
    return guarded(env, "J_CopyObject", jlong{0}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        AttributeTemplate tmpl(env, jTemplate);
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        CK_OBJECT_HANDLE copy = 0;
        const CK_RV rv = module->C_CopyObject(session, static_cast<CK_OBJECT_HANDLE>(jObject),
                                              tmpl.entries(), tmpl.count(), &copy);
        if (rv != CKR_OK) fail(rv);
        return static_cast<jlong>(copy);
    });
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1DestroyObject(JNIEnv* env, jobject self,
                                                                      jlong jObject) {
    LogFunction("J_1DestroyObject: entering...", 0);
    CK_RV rv = CKR_OK;
    guardedVoid(env, "J_DestroyObject", [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        rv = module->C_DestroyObject(session, static_cast<CK_OBJECT_HANDLE>(jObject));
        if (rv != CKR_OK) fail(rv);
    });
    LogFunction("J_1DestroyObject: ...finished.", rv);
}

JNIEXPORT jint JNICALL Java_qorvik_nat_NativeSession_J_1GetObjectSize(JNIEnv* env, jobject self,
                                                                      jlong jObject) {
    LogFunction("J_1GetObjectSize: entering...", 0);
    CK_RV rv = CKR_OK;
    jint result = guarded(env, "J_GetObjectSize", jint{0}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        CK_ULONG size = 0;
        rv = module->C_GetObjectSize(session, static_cast<CK_OBJECT_HANDLE>(jObject), &size);
        if (rv != CKR_OK) fail(rv);
        return RANGE_CHECKED(env, size, 1);
    });
    LogFunction("J_1GetObjectSize: ...finished.", rv);
    return result;
}

JNIEXPORT jobject JNICALL Java_qorvik_nat_NativeSession_J_1GetAttributeValue__JI(JNIEnv* env,
                                                                                 jobject self,
                                                                                 jlong jObject,
                                                                                 jint type) {
    LogFunction("J_1GetAttributeValue (4pars-jint): entering...", 0);
    CK_RV rv = CKR_OK;
    jobject result = guarded(env, "J_GetAttributeValue", jobject{nullptr}, [&]() -> jobject {
        CK_FUNCTION_LIST_PTR module = requireModule();
        ReadEntry entry(env, type);
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        LocalRef<jclass> attributeClass(
            env, findClass(env, "qorvik/Attribute", "Class 'qorvik/Attribute' not found"));
        jmethodID ctor = findMethod(env, attributeClass.get(), "<init>", "(ILjava/lang/Object;)V",
                                    "Pkcs11Attribute constructor' not found");
        jobject value = nullptr;
        switch (readAttribute(env, module, session, static_cast<CK_OBJECT_HANDLE>(jObject),
                              entry.get(), rv, value, 1)) {
            case ReadOutcome::kModuleFailed:
                fail(rv);
            case ReadOutcome::kLengthBeyondBuffer:
                fail(kLengthLargerThanBuffer);
            case ReadOutcome::kLengthBeyondJavaArray:
                fail(kLengthBeyondJavaArray);
            case ReadOutcome::kRead:
                break;
        }
        LocalRef<jobject> valueRef(env, value);
        return newAttribute(env, attributeClass.get(), ctor, entry.get().type, value,
                            "Template is NULL");
    });
    LogFunction("J_1GetAttributeValue (4pars-jint): ...finished.", rv);
    return result;
}

JNIEXPORT jobjectArray JNICALL Java_qorvik_nat_NativeSession_J_1GetAttributeValue__J_3I(
    JNIEnv* env, jobject self, jlong jObject, jintArray types) {
    LogFunction("J_1GetAttributeValue (4pars-jintArray): entering...", 0);
    CK_RV rv = CKR_OK;
    jobjectArray result = guarded(env, "J_GetAttributeValue", jobjectArray{nullptr}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        ReadTemplate tmpl(env, types);
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        LocalRef<jclass> attributeClass(
            env, findClass(env, "qorvik/Attribute", "Class 'qorvik/Attribute' not found"));
        jmethodID ctor = findMethod(env, attributeClass.get(), "<init>", "(ILjava/lang/Object;)V",
                                    "Attribute constructor' not found");
        const jint count = RANGE_CHECKED(env, tmpl.count(), 1);
        LocalRef<jobjectArray> array(
            env, require(env, env->NewObjectArray(count, attributeClass.get(), nullptr),
                         "jTemplate is NULL"));
        for (jint i = 0; i < count; ++i) {
            CK_ATTRIBUTE& entry = tmpl[static_cast<CK_ULONG>(i)];
            jobject value = nullptr;
            switch (readAttribute(env, module, session, static_cast<CK_OBJECT_HANDLE>(jObject),
                                  entry, rv, value, 2)) {
                case ReadOutcome::kModuleFailed:
                    // A type the object lacks gives a null value; anything else fails.
                    if (rv != CKR_ATTRIBUTE_TYPE_INVALID) fail(rv);
                    break;
                case ReadOutcome::kLengthBeyondBuffer:
                    fail(kLengthLargerThanBuffer);
                case ReadOutcome::kLengthBeyondJavaArray:
                    fail(kLengthBeyondJavaArray);
                case ReadOutcome::kRead:
                    break;
            }
            LocalRef<jobject> valueRef(env, value);
            LocalRef<jobject> attribute(
                env, newAttribute(env, attributeClass.get(), ctor, entry.type, value,
                                  "Pkcs11Attribute object is NULL"));
            env->SetObjectArrayElement(array.get(), i, attribute.get());
        }
        return array.release();
    });
    LogFunction("J_1GetAttributeValue (4pars-jintArray): ...finished.", rv);
    return result;
}

JNIEXPORT void JNICALL Java_qorvik_nat_NativeSession_J_1SetAttributeValue(JNIEnv* env, jobject self,
                                                                          jlong jObject,
                                                                          jobjectArray jTemplate) {
    LogFunction("J_1SetAttributeValue: entering...", 0);
    CK_RV rv = CKR_OK;
    guardedVoid(env, "J_SetAttributeValue", [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        AttributeTemplate tmpl(env, jTemplate);
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        rv = module->C_SetAttributeValue(session, static_cast<CK_OBJECT_HANDLE>(jObject),
                                         tmpl.entries(), tmpl.count());
        if (rv != CKR_OK) fail(rv);
    });
    LogFunction("J_1SetAttributeValue: ...finished.", rv);
}

}  // extern "C"
