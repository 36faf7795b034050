// Which Java class each attribute type's value takes: the one table that
// writing and reading attribute values share.
#pragma once

#include "../kelmora.h"

enum class ValueGroup { kInteger, kBoolean, kBytes, kNone };

inline ValueGroup groupOf(CK_ATTRIBUTE_TYPE type) {
    switch (type) {
        case CKA_CLASS:
        case CKA_CERTIFICATE_TYPE:
        case CKA_KEY_TYPE:
        case CKA_MODULUS_BITS:
        case CKA_VALUE_LEN:
        case CKA_PRIME_BITS:
        case CKA_SUB_PRIME_BITS:
        case CKA_VALUE_BITS:
        case CKA_KEY_GEN_MECHANISM:
            return ValueGroup::kInteger;
        case CKA_TOKEN:
        case CKA_PRIVATE:
        case CKA_SENSITIVE:
        case CKA_ENCRYPT:
        case CKA_DECRYPT:
        case CKA_WRAP:
        case CKA_UNWRAP:
        case CKA_SIGN:
        case CKA_SIGN_RECOVER:
        case CKA_VERIFY:
        case CKA_VERIFY_RECOVER:
        case CKA_DERIVE:
        case CKA_EXTRACTABLE:
        case CKA_LOCAL:
        case CKA_NEVER_EXTRACTABLE:
        case CKA_ALWAYS_SENSITIVE:
        case CKA_MODIFIABLE:
        case CKA_ALWAYS_AUTHENTICATE:
            return ValueGroup::kBoolean;
        case CKA_LABEL:
        case CKA_APPLICATION:
        case CKA_VALUE:
        case CKA_SERIAL_NUMBER:
        case CKA_SUBJECT:
        case CKA_ID:
        case CKA_START_DATE:
        case CKA_END_DATE:
        case CKA_MODULUS:
        case CKA_PUBLIC_EXPONENT:
        case CKA_PRIVATE_EXPONENT:
        case CKA_PRIME_1:
        case CKA_PRIME_2:
        case CKA_EXPONENT_1:
        case CKA_EXPONENT_2:
        case CKA_COEFFICIENT:
        case CKA_PRIME:
        case CKA_SUBPRIME:
        case CKA_BASE:
        case CKA_OBJECT_ID:
        case CKA_ISSUER:
        case CKA_URL:
        case CKA_CHECK_VALUE:
        case CKA_PUBLIC_KEY_INFO:
        case CKA_EC_PARAMS:
        case CKA_EC_POINT:
            return ValueGroup::kBytes;
        default:
            return ValueGroup::kNone;
    }
}
