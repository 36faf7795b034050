#include "AttributeFuzz.h"

#include <cstring>
#include <memory>

#include "convert/AttributeTemplate.h"
#include "convert/ValueGroups.h"

namespace fuzz {

namespace {

using Group = ValueGroup;

// The value a write-template entry must hold for its Java value.
void checkEntry(const Element& element, const CK_ATTRIBUTE& entry) {
    FUZZ_CHECK(entry.type == widened(element.type));
    const Value& v = element.value;
    switch (v.kind) {
        case ValueKind::kNull:
            FUZZ_CHECK(entry.pValue == nullptr && entry.ulValueLen == 0);
            return;
        case ValueKind::kInteger: {
            FUZZ_CHECK(entry.ulValueLen == sizeof(CK_ULONG));
            CK_ULONG number;
            std::memcpy(&number, entry.pValue, sizeof number);
            FUZZ_CHECK(number == widened(v.integer));
            return;
        }
        case ValueKind::kBoolean:
            FUZZ_CHECK(entry.ulValueLen == 1);
            FUZZ_CHECK(*static_cast<const CK_BBOOL*>(entry.pValue) ==
                       (v.flag ? CK_TRUE : CK_FALSE));
            return;
        case ValueKind::kBytes:
            FUZZ_CHECK(entry.ulValueLen == v.bytes.size());
            moduleReads(entry.pValue, entry.ulValueLen);
            FUZZ_CHECK(v.bytes.empty() ||
                       std::memcmp(entry.pValue, v.bytes.data(), v.bytes.size()) == 0);
            return;
        case ValueKind::kString: {
            const std::vector<uint8_t> expected = standardUtf8(v.text);
            FUZZ_CHECK(entry.ulValueLen == expected.size());
            // The text is terminated as well, for modules that read it as a C string.
            moduleReads(entry.pValue, entry.ulValueLen + 1);
            FUZZ_CHECK(expected.empty() ||
                       std::memcmp(entry.pValue, expected.data(), expected.size()) == 0);
            FUZZ_CHECK(static_cast<const uint8_t*>(entry.pValue)[expected.size()] == 0);
            return;
        }
        default:
            FUZZ_CHECK(!"a refused value class was converted");
    }
}

}  // namespace

jint attributeType(Bytes& in) {
    static const jint kTypes[] = {CKA_CLASS,
                                  CKA_TOKEN,
                                  CKA_PRIVATE,
                                  CKA_LABEL,
                                  CKA_VALUE,
                                  CKA_ID,
                                  CKA_KEY_TYPE,
                                  CKA_VALUE_LEN,
                                  CKA_MODULUS_BITS,
                                  CKA_SIGN,
                                  CKA_DERIVE,
                                  CKA_ALWAYS_AUTHENTICATE,
                                  CKA_START_DATE,
                                  CKA_MODULUS,
                                  CKA_ISSUER,
                                  CKA_EC_POINT,
                                  CKA_OBJECT_ID,
                                  static_cast<jint>(CKA_VENDOR_DEFINED),
                                  static_cast<jint>(CKA_VENDOR_DEFINED + 1),
                                  static_cast<jint>(0xFFFFFFFFu),
                                  0x7FFFFFFF};
    const uint8_t pick = in.u8();
    if (pick < 224) return kTypes[pick % (sizeof kTypes / sizeof kTypes[0])];
    return static_cast<jint>(in.u32());
}

std::vector<uint8_t> standardUtf8(const std::vector<jchar>& units) {
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        uint32_t cp = units[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<uint8_t>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<uint8_t>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<uint8_t>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<uint8_t>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<uint8_t>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

AttributeInput makeAttributes(Bytes& in) {
    AttributeInput input;
    if (in.u8() < 8) return input;
    const jsize count = in.u8() % 9;
    input.array = env->NewObjectArray(count, c.attribute, nullptr);
    FUZZ_CHECK(input.array != nullptr);
    for (jsize i = 0; i < count; ++i) {
        Element element;
        element.present = in.u8() >= 12;
        if (element.present) {
            element.type = attributeType(in);
            element.value = makeValue(in);
            jobject attribute = ok(
                env->NewObject(c.attribute, c.attributeCtor, element.type, element.value.object));
            FUZZ_CHECK(attribute != nullptr);
            env->SetObjectArrayElement(input.array, i, attribute);
            env->DeleteLocalRef(attribute);
        }
        if (!input.expectedFailure) {
            if (!element.present) {
                input.expectedFailure = "Attribute2CKAttribute - attribute is NULL";
            } else if (!accepted(element.value.kind)) {
                input.expectedFailure = "Attribute2CKAttribute - unsupported value class";
            }
        }
        input.elements.push_back(std::move(element));
    }
    return input;
}

void checkReadBack(const Element& element, const CK_ATTRIBUTE& entry) {
    jobject back = nullptr;
    try {
        back = CkAttribute2Pkcs11Attribute(env, entry);
    } catch (const MessageFailure& f) {
        std::fprintf(stderr, "read-back failed: %s\n", f.message);
        FUZZ_CHECK(!"converting a value back failed");
    }
    FUZZ_CHECK(!env->ExceptionCheck());
    const bool empty = entry.pValue == nullptr || entry.ulValueLen == 0;
    switch (groupOf(entry.type)) {
        case Group::kInteger:
            if (empty) {
                FUZZ_CHECK(back == nullptr);
            } else {
                FUZZ_CHECK(back != nullptr && env->IsInstanceOf(back, c.integer));
                if (element.value.kind == ValueKind::kInteger) {
                    FUZZ_CHECK(ok(env->CallIntMethod(back, c.intValue)) == element.value.integer);
                }
            }
            break;
        case Group::kBoolean:
            if (empty) {
                FUZZ_CHECK(back == nullptr);
            } else {
                FUZZ_CHECK(back != nullptr && env->IsInstanceOf(back, c.boolean));
                if (element.value.kind == ValueKind::kBoolean) {
                    FUZZ_CHECK((ok(env->CallBooleanMethod(back, c.booleanValue)) != JNI_FALSE) ==
                               element.value.flag);
                }
            }
            break;
        case Group::kBytes: {
            FUZZ_CHECK(back != nullptr && env->IsInstanceOf(back, c.bytes));
            jbyteArray array = static_cast<jbyteArray>(back);
            const jsize length = env->GetArrayLength(array);
            FUZZ_CHECK(static_cast<CK_ULONG>(length) == entry.ulValueLen);
            std::vector<uint8_t> bytes(static_cast<std::size_t>(length));
            if (length > 0) {
                env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(bytes.data()));
                FUZZ_CHECK(std::memcmp(bytes.data(), entry.pValue, bytes.size()) == 0);
            }
            break;
        }
        case Group::kNone:
            FUZZ_CHECK(back == nullptr);
            break;
    }
    if (back != nullptr) env->DeleteLocalRef(back);
}

std::optional<std::string> convertAttributes(const AttributeInput& input) {
    std::optional<std::string> failure;
    AttributeTemplate* built = nullptr;
    try {
        built = new AttributeTemplate(env, input.array);
    } catch (const MessageFailure& f) {
        failure = f.message;
    } catch (const ReturnValueFailure& f) {
        failure = std::string("rv ") + std::to_string(f.rv);
    }
    FUZZ_CHECK(!env->ExceptionCheck());
    if (failure) {
        if (input.expectedFailure != failure) {
            std::fprintf(stderr, "template failure '%s', expected '%s'\n", failure->c_str(),
                         input.expectedFailure ? input.expectedFailure->c_str() : "none");
        }
        FUZZ_CHECK(input.expectedFailure == failure);
        return failure;
    }
    if (input.expectedFailure) {
        std::fprintf(stderr, "template converted, expected '%s'\n", input.expectedFailure->c_str());
    }
    FUZZ_CHECK(!input.expectedFailure);
    FUZZ_CHECK(built->count() == input.elements.size());
    FUZZ_CHECK(input.array != nullptr || built->entries() == nullptr);
    for (std::size_t i = 0; i < input.elements.size(); ++i) {
        checkEntry(input.elements[i], built->entries()[i]);
        checkReadBack(input.elements[i], built->entries()[i]);
    }
    delete built;
    return std::nullopt;
}

void moduleAnswers(Bytes& in) {
    const int count = in.u8() % 4;
    for (int i = 0; i < count; ++i) {
        const CK_ATTRIBUTE_TYPE type = widened(attributeType(in));
        const std::size_t length = in.u8() % 24;
        // Exactly as long as the length stated, so the sanitizer sees any read past it.
        std::unique_ptr<uint8_t[]> value(new uint8_t[length > 0 ? length : 1]());
        in.take(value.get(), length);
        CK_ATTRIBUTE answer{type, value.get(), static_cast<CK_ULONG>(length)};
        Element element;
        element.type = static_cast<jint>(type);
        checkReadBack(element, answer);
    }
}

}  // namespace fuzz
