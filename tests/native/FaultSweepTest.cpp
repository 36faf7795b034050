// Fault sweep: every module function the bridge calls, failed with every
// code the bridge describes (plus an unknown and a vendor code), checked for
// the exception Java sees, arrays given back and the next call working; and
// the module misbehaviours a vendor module shows in the field.
#include <algorithm>
#include <cstring>
#include <string>

#include "BridgeTest.h"
#include "CountingEnv.h"
#include "Errors.h"

namespace kt {
namespace {

// Return values of the standard by their header names, so a row of the
// description table can be checked against the constant it describes.
struct NamedRv {
    const char* name;
    CK_RV value;
};
#define KT_RV(n) \
    { #n, n }
const NamedRv kStandardRvs[] = {
    KT_RV(CKR_OK),
    KT_RV(CKR_CANCEL),
    KT_RV(CKR_HOST_MEMORY),
    KT_RV(CKR_SLOT_ID_INVALID),
    KT_RV(CKR_GENERAL_ERROR),
    KT_RV(CKR_FUNCTION_FAILED),
    KT_RV(CKR_ARGUMENTS_BAD),
    KT_RV(CKR_NO_EVENT),
    KT_RV(CKR_NEED_TO_CREATE_THREADS),
    KT_RV(CKR_CANT_LOCK),
    KT_RV(CKR_ATTRIBUTE_READ_ONLY),
    KT_RV(CKR_ATTRIBUTE_SENSITIVE),
    KT_RV(CKR_ATTRIBUTE_TYPE_INVALID),
    KT_RV(CKR_ATTRIBUTE_VALUE_INVALID),
    KT_RV(CKR_DATA_INVALID),
    KT_RV(CKR_DATA_LEN_RANGE),
    KT_RV(CKR_DEVICE_ERROR),
    KT_RV(CKR_DEVICE_MEMORY),
    KT_RV(CKR_DEVICE_REMOVED),
    KT_RV(CKR_ENCRYPTED_DATA_INVALID),
    KT_RV(CKR_ENCRYPTED_DATA_LEN_RANGE),
    KT_RV(CKR_FUNCTION_CANCELED),
    KT_RV(CKR_FUNCTION_NOT_PARALLEL),
    KT_RV(CKR_FUNCTION_NOT_SUPPORTED),
    KT_RV(CKR_KEY_HANDLE_INVALID),
    KT_RV(CKR_KEY_SIZE_RANGE),
    KT_RV(CKR_KEY_TYPE_INCONSISTENT),
    KT_RV(CKR_KEY_NOT_NEEDED),
    KT_RV(CKR_KEY_CHANGED),
    KT_RV(CKR_KEY_NEEDED),
    KT_RV(CKR_KEY_INDIGESTIBLE),
    KT_RV(CKR_KEY_FUNCTION_NOT_PERMITTED),
    KT_RV(CKR_KEY_NOT_WRAPPABLE),
    KT_RV(CKR_KEY_UNEXTRACTABLE),
    KT_RV(CKR_MECHANISM_INVALID),
    KT_RV(CKR_MECHANISM_PARAM_INVALID),
    KT_RV(CKR_OBJECT_HANDLE_INVALID),
    KT_RV(CKR_OPERATION_ACTIVE),
    KT_RV(CKR_OPERATION_NOT_INITIALIZED),
    KT_RV(CKR_PIN_INCORRECT),
    KT_RV(CKR_PIN_INVALID),
    KT_RV(CKR_PIN_LEN_RANGE),
    KT_RV(CKR_PIN_EXPIRED),
    KT_RV(CKR_PIN_LOCKED),
    KT_RV(CKR_SESSION_CLOSED),
    KT_RV(CKR_SESSION_COUNT),
    KT_RV(CKR_SESSION_HANDLE_INVALID),
    KT_RV(CKR_SESSION_PARALLEL_NOT_SUPPORTED),
    KT_RV(CKR_SESSION_READ_ONLY),
    KT_RV(CKR_SESSION_EXISTS),
    KT_RV(CKR_SESSION_READ_ONLY_EXISTS),
    KT_RV(CKR_SESSION_READ_WRITE_SO_EXISTS),
    KT_RV(CKR_SIGNATURE_INVALID),
    KT_RV(CKR_SIGNATURE_LEN_RANGE),
    KT_RV(CKR_TEMPLATE_INCOMPLETE),
    KT_RV(CKR_TEMPLATE_INCONSISTENT),
    KT_RV(CKR_TOKEN_NOT_PRESENT),
    KT_RV(CKR_TOKEN_NOT_RECOGNIZED),
    KT_RV(CKR_TOKEN_WRITE_PROTECTED),
    KT_RV(CKR_UNWRAPPING_KEY_HANDLE_INVALID),
    KT_RV(CKR_UNWRAPPING_KEY_SIZE_RANGE),
    KT_RV(CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT),
    KT_RV(CKR_USER_ALREADY_LOGGED_IN),
    KT_RV(CKR_USER_NOT_LOGGED_IN),
    KT_RV(CKR_USER_PIN_NOT_INITIALIZED),
    KT_RV(CKR_USER_TYPE_INVALID),
    KT_RV(CKR_USER_ANOTHER_ALREADY_LOGGED_IN),
    KT_RV(CKR_USER_TOO_MANY_TYPES),
    KT_RV(CKR_WRAPPED_KEY_INVALID),
    KT_RV(CKR_WRAPPED_KEY_LEN_RANGE),
    KT_RV(CKR_WRAPPING_KEY_HANDLE_INVALID),
    KT_RV(CKR_WRAPPING_KEY_SIZE_RANGE),
    KT_RV(CKR_WRAPPING_KEY_TYPE_INCONSISTENT),
    KT_RV(CKR_RANDOM_SEED_NOT_SUPPORTED),
    KT_RV(CKR_RANDOM_NO_RNG),
    KT_RV(CKR_DOMAIN_PARAMS_INVALID),
    KT_RV(CKR_BUFFER_TOO_SMALL),
    KT_RV(CKR_SAVED_STATE_INVALID),
    KT_RV(CKR_INFORMATION_SENSITIVE),
    KT_RV(CKR_STATE_UNSAVEABLE),
    KT_RV(CKR_CRYPTOKI_NOT_INITIALIZED),
    KT_RV(CKR_CRYPTOKI_ALREADY_INITIALIZED),
    KT_RV(CKR_MUTEX_BAD),
    KT_RV(CKR_MUTEX_NOT_LOCKED),
    KT_RV(CKR_FUNCTION_REJECTED),
    KT_RV(CKR_VENDOR_DEFINED),
};
#undef KT_RV

const NamedRv* standardRv(const std::string& name) {
    for (const NamedRv& rv : kStandardRvs) {
        if (name == rv.name) return &rv;
    }
    return nullptr;
}

std::string trimmed(const char* padded) {
    std::string text(padded);
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

// The constant name a description stands for: "PIN LEN RANGE" -> CKR_PIN_LEN_RANGE.
std::string constantName(const std::string& description) {
    std::string name = "CKR_" + description;
    std::replace(name.begin(), name.end(), ' ', '_');
    return name;
}

// A row whose code does not match the constant its text names (a mistyped
// code) describes every failure of that code wrongly, and the failure of the
// intended code as unknown.
TEST(DescriptionTable, EveryRowCarriesTheStandardCodeOfItsText) {
    std::size_t checked = 0;
    for (std::size_t i = 0; i + 1 < kErrorDescriptionCount; ++i) {
        const ErrorDesc& row = errorDescriptions[i];
        const std::string name = constantName(trimmed(row.Descr));
        const NamedRv* rv = standardRv(name);
        if (rv == nullptr) {
            ADD_FAILURE() << "row " << i << " '" << row.Descr << "' names no standard code";
            continue;
        }
        EXPECT_EQ(row.Value, rv->value) << "row " << i << " " << name << " has 0x" << std::hex
                                        << row.Value << ", the standard's is 0x" << rv->value;
        ++checked;
    }
    EXPECT_EQ(checked, kErrorDescriptionCount - 1);
    EXPECT_EQ(trimmed(errorDescriptions[kErrorDescriptionCount - 1].Descr), "NO ERROR DESC FOUND");
}

}  // namespace
}  // namespace kt
