// Control of what runs inside a module call and of what a lying call leaves
// in the caller's buffer.
#include "mock_call.h"

using namespace p11mock;

extern "C" {

P11MOCK_EXPORT void p11mock_set_report_filler(int byte_or_minus_one) {
    Locked l;
    l.st.report_filler = byte_or_minus_one < 0 ? -1 : (byte_or_minus_one & 0xFF);
}

P11MOCK_EXPORT void p11mock_hook_next(const char* fn, void (*hook)(void*), void* arg) {
    Locked l;
    l.st.hook_for = fn != nullptr ? fn : "";
    l.st.hook = fn != nullptr ? hook : nullptr;
    l.st.hook_arg = arg;
}

P11MOCK_EXPORT void p11mock_query_len_next(const char* fn, CK_ULONG reported_len) {
    if (fn == nullptr) return;
    Locked l;
    l.st.query_len[fn] = reported_len;
}

P11MOCK_EXPORT void p11mock_endless_search(int on) {
    Locked l;
    l.st.endless_search = on != 0;
}

}  // extern "C"
