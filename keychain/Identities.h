// The references the Java identity objects hold. Each KeyChainIdentity the
// bridge makes holds one reference to its identity, and one more per Lock;
// the table knows, per Java object (a weak global reference, not the address
// in its field: two objects may name the same identity), how many it holds,
// so that a Release never drops a reference its object does not hold, and
// the drop of the last one clears the object's m_hIdentity.
#pragma once

#include <jni.h>

#include "Platform.h"

namespace tarnel::identities {

// Records that `object` holds `identity`, a reference just taken for it (dropped again when the
// record cannot be made).
void adopt(JNIEnv* env, jobject object, Ref identity);
// Lock: one more reference for `object`, when the identity in its field is held by some object.
void lock(JNIEnv* env, jobject object);
// Release: drops one of the references `object` holds; the last one clears m_hIdentity.
void release(JNIEnv* env, jobject object);
// Drops the references of objects the JVM has collected: they can no longer give them back.
void dropCollected(JNIEnv* env);

// The identity named by `object`'s m_hIdentity, retained for the caller, when some object holds
// it; null for 0 or for a value no object holds.
Ref borrow(JNIEnv* env, jobject object);

}  // namespace tarnel::identities
