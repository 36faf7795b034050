// What the mechanism suites share: Java objects made through their
// constructors, char arrays, and the text a conversion fails with.
#pragma once

#include <cstdarg>
#include <string>

#include "BridgeTest.h"
#include "convert/Mechanism.h"

namespace kt {

class MechanismFixture : public BridgeTest {
  protected:
    // new <classPath>(args...) through the constructor of that signature.
    jobject construct(const char* classPath, const char* signature, ...) {
        jclass cls = env->FindClass(classPath);
        if (cls == nullptr) {
            env->ExceptionClear();
            ADD_FAILURE() << "class not found: " << classPath;
            return nullptr;
        }
        jmethodID ctor = env->GetMethodID(cls, "<init>", signature);
        EXPECT_NE(ctor, nullptr) << classPath << signature;
        if (ctor == nullptr) env->ExceptionClear();
        va_list args;
        va_start(args, signature);
        jobject obj = ctor ? env->NewObjectV(cls, ctor, args) : nullptr;
        va_end(args);
        env->DeleteLocalRef(cls);
        return obj;
    }
    jobject mechanism(CK_MECHANISM_TYPE type, jobject parameter) {
        return construct("qorvik/Mechanism", "(ILjava/lang/Object;)V", static_cast<jint>(type),
                         parameter);
    }
    // A char[] holding the UTF-16 units of s.
    jcharArray javaChars(const std::u16string& s) {
        jcharArray array = env->NewCharArray(static_cast<jsize>(s.size()));
        env->SetCharArrayRegion(array, 0, static_cast<jsize>(s.size()),
                                reinterpret_cast<const jchar*>(s.data()));
        return array;
    }

    // The message of the conversion's failure; a failed conversion leaves no
    // parameter behind and no Java exception pending.
    std::string failureOf(jobject jMechanism) {
        CK_MECHANISM m{0, nullptr, 0};
        try {
            Mechanism2CKMechanism(env, jMechanism, &m);
        } catch (const MessageFailure& f) {
            EXPECT_EQ(m.pParameter, nullptr);
            EXPECT_EQ(m.ulParameterLen, 0u);
            EXPECT_FALSE(env->ExceptionCheck()) << "a lookup left its error pending";
            return f.message;
        }
        FreeMechanism(&m);
        return "<converted>";
    }
};

}  // namespace kt
