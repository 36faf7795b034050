// Attribute arrays built from the fuzz input, converted to templates and
// checked against what the bridge promises for each value class, and values
// converted back as a module would hand them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "FuzzJava.h"

namespace fuzz {

struct Element {
    bool present = false;
    jint type = 0;
    Value value;
};

struct AttributeInput {
    jobjectArray array = nullptr;  // null: the Java caller passed null
    std::vector<Element> elements;
    // The first failure the conversion must report, or none.
    std::optional<std::string> expectedFailure;
};

AttributeInput makeAttributes(Bytes& in);
// An attribute type: the ones of every value group, vendor-defined ones, any int.
jint attributeType(Bytes& in);
// Labels reach the module as standard UTF-8; a lone surrogate as U+FFFD.
std::vector<uint8_t> standardUtf8(const std::vector<jchar>& units);
// What comes back to Java for an entry as the module would return it.
void checkReadBack(const Element& element, const CK_ATTRIBUTE& entry);
// Converts directly and checks the template; returns the failure text, if any.
std::optional<std::string> convertAttributes(const AttributeInput& input);
// Values as a module answers them: any type, any length up to the buffer,
// any bytes. Converting one back reads no byte beyond what the module wrote.
void moduleAnswers(Bytes& in);

}  // namespace fuzz
