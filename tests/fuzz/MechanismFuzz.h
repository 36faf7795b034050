// Mechanisms built from the fuzz input (every type that takes a parameter,
// with objects of every parameter class, nulls and objects of other classes),
// converted, and their records used the way a module of that mechanism uses them.
#pragma once

#include <optional>
#include <string>

#include "FuzzJava.h"

namespace fuzz {

// What a row's parameter is.
enum class Form {
    kObject,      // an object of the row's class
    kLegacyIv,    // "[B": an IV of at least 8 bytes, of which 8 are used
    kIv16,        // "[B": an IV of exactly 16 bytes
    kOptionalIv,  // "[B": an IV of any length; an empty one gives no record
    kData,        // "[B": data of any length, as a key derivation string
};

// A mechanism type that takes a parameter, with the class of its parameter
// ("[B": a byte array).
struct Row {
    CK_MECHANISM_TYPE type;
    const char* parameterClass;
    Form form = Form::kObject;
    // A null parameter gives no record and no failure (the module decides);
    // the legacy rows refuse it.
    bool nullGivesNoRecord = false;
    // The IV length of a CBC encryption-data record (8 or 16).
    CK_ULONG ivLength = 0;
};

struct MechanismInput {
    jobject mechanism = nullptr;  // null: the Java caller passed null
    jint type = 0;
    jobject parameter = nullptr;
    const Row* row = nullptr;
};

MechanismInput makeMechanism(Bytes& in);
// Converts directly, uses the record as a module would and frees it; returns
// the failure text, if any.
std::optional<std::string> convertMechanism(const MechanismInput& input);

}  // namespace fuzz
