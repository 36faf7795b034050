// Linux and macOS have no signer-PIN dialog: an empty store stays empty and
// the module receives an empty PIN.
#include "../core/Platform.h"

namespace platform {

CK_RV requestSignerPin() { return CKR_OK; }

}  // namespace platform
