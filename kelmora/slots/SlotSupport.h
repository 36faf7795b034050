// What the slot methods share: reading the slot from a NativeSlot and
// turning fixed-width Cryptoki text fields into Java strings.
#pragma once

#include <cstring>

#include "../core/JniGuards.h"
#include "../kelmora.h"

// The slot ID of a NativeSlot: the 32 bits of its int field m_slotID.
inline CK_SLOT_ID readSlotId(JNIEnv* env, jobject self, jclass slotClass,
                             const char* fieldMessage) {
    jfieldID field = findField(env, slotClass, "m_slotID", "I", fieldMessage);
    return ulongFromJint(env->GetIntField(self, field));
}

// A blank-padded text field as a Java string: copied into a zeroed buffer one
// byte longer than the field, so the text ends at the first zero byte or at
// the field's end; trailing blanks stay.
template <std::size_t Width>
jstring fixedText(JNIEnv* env, const CK_UTF8CHAR (&field)[Width], const char* message) {
    char text[Width + 1] = {};
    std::memcpy(text, field, Width);
    return require(env, env->NewStringUTF(text), message);
}
