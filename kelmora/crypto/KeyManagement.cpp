// Generating, wrapping, unwrapping and deriving keys.
#include "../convert/AttributeTemplate.h"
#include "../convert/Mechanism.h"
#include "../jni_methods.h"
#include "Operation.h"

namespace {

// The wrapping buffer's first size; a longer wrapped key grows it.
constexpr CK_ULONG kFirstWrapCapacity = 1024;

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_qorvik_nat_NativeSession_J_1GenerateKey(JNIEnv* env, jobject self,
                                                                     jobject jMechanism,
                                                                     jobjectArray jKeyTemplate) {
    LogFunction("J_1GenerateKey: entering...", 0);
    return guarded(env, "J_GenerateKey", jlong{0}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        AttributeTemplate tmpl(env, jKeyTemplate);
        MechanismRecord mechanism(env, jMechanism);
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        CK_OBJECT_HANDLE key = 0;
        const CK_RV rv =
            module->C_GenerateKey(session, mechanism.get(), tmpl.entries(), tmpl.count(), &key);
        if (rv != CKR_OK) fail(rv);
        return static_cast<jlong>(key);
    });
}

JNIEXPORT jlongArray JNICALL Java_qorvik_nat_NativeSession_J_1GenerateKeyPair(
    JNIEnv* env, jobject self, jobject jMechanism, jobjectArray jPublicTemplate,
    jobjectArray jPrivateTemplate) {
    LogFunction("J_1GenerateKeyPair: entering...", 0);
    jlongArray result = guarded(env, "J_GenerateKeyPair", jlongArray{nullptr}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        AttributeTemplate publicTemplate(env, jPublicTemplate);
        AttributeTemplate privateTemplate(env, jPrivateTemplate);
        MechanismRecord mechanism(env, jMechanism);
        LogFunction("J_1GenerateKeyPair: -after 2CK functions", 0);
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        CK_OBJECT_HANDLE publicKey = 0;
        CK_OBJECT_HANDLE privateKey = 0;
        LogFunction("J_1GenerateKeyPair: -before C_GenerateKeyPair call", 0);
        const CK_RV rv = module->C_GenerateKeyPair(
            session, mechanism.get(), publicTemplate.entries(), publicTemplate.count(),
            privateTemplate.entries(), privateTemplate.count(), &publicKey, &privateKey);
        LogFunction("J_1GenerateKeyPair: -passed C_GenerateKeyPair call", rv);
        if (rv != CKR_OK) {
            LogFunction("J_1GenerateKeyPair: -!!! C_GenerateKeyPair call NOT OK", rv);
            fail(rv);
        }
        // Public key first, private key second.
        const jlong handles[2] = {static_cast<jlong>(publicKey), static_cast<jlong>(privateKey)};
        jlongArray pair = require(env, env->NewLongArray(2), "jhRSAKey is NULL");
        env->SetLongArrayRegion(pair, 0, 2, handles);
        return pair;
    });
    LogFunction("J_1GenerateKeyPair: ...finished.", 0);
    return result;
}

JNIEXPORT jbyteArray JNICALL Java_qorvik_nat_NativeSession_J_1WrapKey(JNIEnv* env, jobject self,
                                                                      jobject jMechanism,
                                                                      jlong jWrappingKey,
                                                                      jlong jKeyToBeWrapped) {
    return guarded(env, "J_WrapKey", jbyteArray{nullptr}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        MechanismRecord mechanism(env, jMechanism);
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        return returningForm(env, kFirstWrapCapacity, "jWrappedKey is NULL",
                             [&](CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
                                 return module->C_WrapKey(
                                     session, mechanism.get(),
                                     static_cast<CK_OBJECT_HANDLE>(jWrappingKey),
                                     static_cast<CK_OBJECT_HANDLE>(jKeyToBeWrapped), out, outLen);
                             });
    });
}

JNIEXPORT jlong JNICALL Java_qorvik_nat_NativeSession_J_1UnwrapKey(
    JNIEnv* env, jobject self, jobject jMechanism, jlong jUnwrappingKey, jbyteArray jWrappedKey,
    jint jOff, jint jLen, jobjectArray jTemplate) {
    return guarded(env, "J_UnwrapKey", jlong{0}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        AttributeTemplate tmpl(env, jTemplate);
        MechanismRecord mechanism(env, jMechanism);
        InputWindow wrapped(env, jWrappedKey, jOff, jLen, "pWrappedKey is NULL");
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        CK_OBJECT_HANDLE key = 0;
        const CK_RV rv = module->C_UnwrapKey(
            session, mechanism.get(), static_cast<CK_OBJECT_HANDLE>(jUnwrappingKey), wrapped.data(),
            wrapped.length(), tmpl.entries(), tmpl.count(), &key);
        if (rv != CKR_OK) fail(rv);
        return static_cast<jlong>(key);
    });
}

JNIEXPORT jlong JNICALL Java_qorvik_nat_NativeSession_J_1DeriveKey(JNIEnv* env, jobject self,
                                                                   jobject jMechanism,
                                                                   jlong jBaseKey,
                                                                   jobjectArray jTemplate) {
    return guarded(env, "J_DeriveKey", jlong{0}, [&] {
        CK_FUNCTION_LIST_PTR module = requireModule();
        AttributeTemplate tmpl(env, jTemplate);
        MechanismRecord mechanism(env, jMechanism);
        const CK_SESSION_HANDLE session = Session2CKSession(env, self);
        // What the module writes into the parameter record (key material of
        // the SSL3 derivations) is not handed back; only the handle it left.
        CK_OBJECT_HANDLE key = 0;
        const CK_RV rv =
            module->C_DeriveKey(session, mechanism.get(), static_cast<CK_OBJECT_HANDLE>(jBaseKey),
                                tmpl.entries(), tmpl.count(), &key);
        if (rv != CKR_OK) fail(rv);
        return static_cast<jlong>(key);
    });
}

}  // extern "C"
