// Control of the misbehaviours vendor modules show in the field: lengths
// that never fit, and lengths claimed beyond what was written on a chosen
// call.
#include "mock_call.h"

using namespace p11mock;

extern "C" {

P11MOCK_EXPORT void p11mock_buffer_too_small_always(const char* fn, CK_ULONG first_len,
                                                    CK_ULONG growth) {
    if (fn == nullptr) return;
    Locked l;
    FunctionFaults& f = l.st.faults[fn];
    f.too_small_always = true;
    f.too_small_len = first_len;
    f.too_small_growth = growth;
}

P11MOCK_EXPORT void p11mock_report_len_nth(const char* fn, unsigned n, CK_ULONG reported_len) {
    if (fn == nullptr || n == 0) return;
    Locked l;
    FunctionFaults& f = l.st.faults[fn];
    f.report_at[f.calls + n] = reported_len;
}

}  // extern "C"
