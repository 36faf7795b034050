// Mechanisms built from the fuzz input (every type that takes a parameter,
// with objects of every parameter class, nulls and objects of other classes),
// converted, and their records used the way a module of that mechanism uses them.
#pragma once

#include <optional>
#include <string>

#include "FuzzJava.h"

namespace fuzz {

// A mechanism type that takes a parameter, with the class of its parameter
// ("[B": the IV itself).
struct Row {
    CK_MECHANISM_TYPE type;
    const char* parameterClass;
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
