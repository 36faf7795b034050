// Java mechanisms with their parameter objects to CK_MECHANISM records, and
// the freeing of what a conversion built.
#pragma once

#include "../kelmora.h"

extern "C" {
// Fills *pMechanism from a qorvik.Mechanism: its type and, for the types that
// take one, a parameter record built from the parameter object. pParameter is
// set only once the record is complete; a failure leaves nothing allocated.
KELMORA_API void Mechanism2CKMechanism(JNIEnv* env, jobject jMechanism,
                                       CK_MECHANISM_PTR pMechanism);
// Frees the parameter record and the buffers its members point to. Returns 0.
KELMORA_API int FreeMechanism(CK_MECHANISM_PTR pMechanism);
}

// A mechanism record converted from Java, freed on every path.
class MechanismRecord {
  public:
    MechanismRecord() = default;
    // Delegating first makes the object complete, so the destructor runs even
    // when the conversion fails.
    MechanismRecord(JNIEnv* env, jobject jMechanism) : MechanismRecord() {
        Mechanism2CKMechanism(env, jMechanism, &mechanism_);
    }
    MechanismRecord(const MechanismRecord&) = delete;
    MechanismRecord& operator=(const MechanismRecord&) = delete;
    ~MechanismRecord() { FreeMechanism(&mechanism_); }
    CK_MECHANISM_PTR get() { return &mechanism_; }

  private:
    CK_MECHANISM mechanism_{0, nullptr, 0};
};
