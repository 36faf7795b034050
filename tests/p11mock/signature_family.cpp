// Vendor entry point of the signature-family build: the application
// registers the function the module calls to ask for the signer PIN.
#include "mock_call.h"

#ifdef P11MOCK_SIGNATURE_FAMILY

using namespace p11mock;

extern "C" P11MOCK_EXPORT CK_RV C_SetCallBack(CK_LONG kind, CK_VOID_PTR fn) {
    Call c("C_SetCallBack");
    c.arg(static_cast<CK_ULONG>(kind)).ptr(fn);
    CK_RV rv;
    if (c.intercepted(&rv, false)) return rv;
    ++c.st.callback.registrations;
    c.st.callback.last_kind = kind;
    c.st.callback.last_fn = fn;
    return c.done(CKR_OK);
}

#endif
