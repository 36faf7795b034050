// The plain C control interface the tests steer the module with.
#include <algorithm>
#include <cstring>
#include <utility>

#include "mock_call.h"
#include "toy_crypto.h"

using namespace p11mock;

namespace {

const LogEntry* log_entry(State& st, size_t index) {
    return index < st.log.size() ? &st.log[index] : nullptr;
}

}  // namespace

extern "C" {

P11MOCK_EXPORT void p11mock_reset(void) {
    Locked l;
    l.st.reset();
}

P11MOCK_EXPORT void p11mock_force_uninitialized(void) {
    Locked l;
    l.st.initialized = false;
}

P11MOCK_EXPORT int p11mock_is_initialized(void) {
    Locked l;
    return l.st.initialized ? 1 : 0;
}

// ---- Fault injection -------------------------------------------------------

P11MOCK_EXPORT void p11mock_fail_nth(const char* fn, unsigned n, CK_RV rv) {
    if (fn == nullptr || n == 0) return;
    Locked l;
    FunctionFaults& f = l.st.faults[fn];
    f.fail_at[f.calls + n] = rv;
}

P11MOCK_EXPORT void p11mock_fail_next(const char* fn, CK_RV rv) {
    p11mock_fail_nth(fn, 1, rv);
}

P11MOCK_EXPORT void p11mock_buffer_too_small_next(const char* fn, CK_ULONG reported_len) {
    if (fn == nullptr) return;
    Locked l;
    FunctionFaults& f = l.st.faults[fn];
    f.too_small = true;
    f.too_small_len = reported_len;
}

P11MOCK_EXPORT void p11mock_report_len_next(const char* fn, CK_ULONG reported_len) {
    if (fn == nullptr) return;
    Locked l;
    FunctionFaults& f = l.st.faults[fn];
    f.report = true;
    f.report_len = reported_len;
}

P11MOCK_EXPORT void p11mock_clear_faults(void) {
    Locked l;
    for (auto& entry : l.st.faults) {
        const unsigned long calls = entry.second.calls;
        entry.second = FunctionFaults{};
        entry.second.calls = calls;
    }
}

// ---- Info records ----------------------------------------------------------

P11MOCK_EXPORT void p11mock_get_info(CK_INFO* out) {
    Locked l;
    if (out != nullptr) *out = l.st.info;
}

P11MOCK_EXPORT void p11mock_set_info(const CK_INFO* info) {
    Locked l;
    if (info != nullptr) l.st.info = *info;
}

P11MOCK_EXPORT void p11mock_get_slot_info(unsigned slot_index, CK_SLOT_INFO* out) {
    Locked l;
    if (out == nullptr) return;
    *out = slot_index < l.st.slots.size() ? l.st.slots[slot_index].info : CK_SLOT_INFO{};
}

P11MOCK_EXPORT void p11mock_set_slot_info(unsigned slot_index, const CK_SLOT_INFO* info) {
    Locked l;
    if (info != nullptr && slot_index < l.st.slots.size()) l.st.slots[slot_index].info = *info;
}

P11MOCK_EXPORT void p11mock_get_token_info(unsigned slot_index, CK_TOKEN_INFO* out) {
    Locked l;
    if (out == nullptr) return;
    *out = slot_index < l.st.slots.size() ? l.st.slots[slot_index].token : CK_TOKEN_INFO{};
}

P11MOCK_EXPORT void p11mock_set_token_info(unsigned slot_index, const CK_TOKEN_INFO* info) {
    Locked l;
    if (info != nullptr && slot_index < l.st.slots.size()) l.st.slots[slot_index].token = *info;
}

P11MOCK_EXPORT void p11mock_set_slots(unsigned count, const CK_SLOT_ID* ids,
                                      const int* token_present) {
    Locked l;
    l.st.slots.clear();
    for (unsigned i = 0; i < count && ids != nullptr; ++i) {
        l.st.slots.push_back(
            default_slot(ids[i], token_present != nullptr && token_present[i] != 0));
    }
}

P11MOCK_EXPORT void p11mock_set_mechanisms(unsigned count, const CK_MECHANISM_TYPE* types,
                                           const CK_MECHANISM_INFO* infos) {
    Locked l;
    l.st.mechanisms.clear();
    l.st.mechanism_info.clear();
    for (unsigned i = 0; i < count && types != nullptr; ++i) {
        l.st.mechanisms.push_back(types[i]);
        l.st.mechanism_info.push_back(infos != nullptr ? infos[i] : CK_MECHANISM_INFO{});
    }
}

P11MOCK_EXPORT void p11mock_set_pins(unsigned slot_index, const char* user_pin,
                                     const char* so_pin) {
    Locked l;
    if (slot_index >= l.st.slots.size()) return;
    Slot& slot = l.st.slots[slot_index];
    if (user_pin != nullptr) slot.user_pin = to_bytes(user_pin, std::strlen(user_pin));
    if (so_pin != nullptr) slot.so_pin = to_bytes(so_pin, std::strlen(so_pin));
}

// ---- Handles, events, sessions ----------------------------------------------

P11MOCK_EXPORT void p11mock_set_session_handle_base(CK_SESSION_HANDLE first) {
    Locked l;
    l.st.next_session = first;
}

P11MOCK_EXPORT void p11mock_set_object_handle_base(CK_OBJECT_HANDLE first) {
    Locked l;
    l.st.next_object = first;
}

P11MOCK_EXPORT void p11mock_push_slot_event(CK_SLOT_ID slot) {
    Locked l;
    l.st.events.push_back(slot);
}

P11MOCK_EXPORT CK_ULONG p11mock_session_count(void) {
    Locked l;
    return l.st.sessions.size();
}

P11MOCK_EXPORT CK_ULONG p11mock_logged_in_user(unsigned slot_index) {
    Locked l;
    return slot_index < l.st.slots.size() ? l.st.slots[slot_index].logged_in : kNobodyLoggedIn;
}

// ---- Objects ---------------------------------------------------------------

P11MOCK_EXPORT CK_OBJECT_HANDLE p11mock_add_object(const CK_ATTRIBUTE* tmpl, CK_ULONG count) {
    Locked l;
    Object object{};
    if (apply_template(object, tmpl, count) != CKR_OK) return CK_INVALID_HANDLE;
    object.handle = l.st.new_object_handle();
    object.owner = kTokenOwner;
    const CK_OBJECT_HANDLE handle = object.handle;
    l.st.add_object(std::move(object));
    return handle;
}

P11MOCK_EXPORT CK_ULONG p11mock_object_count(void) {
    Locked l;
    return l.st.objects.size();
}

P11MOCK_EXPORT void p11mock_set_sensitive(CK_OBJECT_HANDLE obj, CK_ATTRIBUTE_TYPE type) {
    Locked l;
    Object* object = l.st.object(obj);
    if (object == nullptr) return;
    if (object->find(type) == nullptr) object->put(type, Bytes());
    object->find(type)->sensitive = true;
}

// ---- Call log --------------------------------------------------------------

P11MOCK_EXPORT size_t p11mock_log_size(void) {
    Locked l;
    return l.st.log.size();
}

P11MOCK_EXPORT const char* p11mock_log_name(size_t index) {
    Locked l;
    const LogEntry* e = log_entry(l.st, index);
    return e != nullptr ? e->name.c_str() : nullptr;
}

P11MOCK_EXPORT CK_ULONG p11mock_log_arg(size_t index, unsigned arg) {
    Locked l;
    const LogEntry* e = log_entry(l.st, index);
    return e != nullptr && arg < e->arg_count ? e->args[arg] : 0;
}

P11MOCK_EXPORT CK_ULONG p11mock_log_address(size_t index, unsigned arg) {
    Locked l;
    const LogEntry* e = log_entry(l.st, index);
    return e != nullptr && arg < e->arg_count ? e->addresses[arg] : 0;
}

P11MOCK_EXPORT unsigned p11mock_log_arg_count(size_t index) {
    Locked l;
    const LogEntry* e = log_entry(l.st, index);
    return e != nullptr ? e->arg_count : 0;
}

P11MOCK_EXPORT size_t p11mock_log_buffer(size_t index, unsigned buf, const unsigned char** data) {
    static const unsigned char kEmpty = 0;
    Locked l;
    const LogEntry* e = log_entry(l.st, index);
    if (e == nullptr || buf >= e->buffers.size() || !e->present[buf]) {
        if (data != nullptr) *data = nullptr;
        return 0;
    }
    const Bytes& b = e->buffers[buf];
    if (data != nullptr) *data = b.empty() ? &kEmpty : b.data();
    return b.size();
}

P11MOCK_EXPORT CK_RV p11mock_log_rv(size_t index) {
    Locked l;
    const LogEntry* e = log_entry(l.st, index);
    return e != nullptr ? e->rv : CK_UNAVAILABLE_INFORMATION;
}

P11MOCK_EXPORT size_t p11mock_log_count(const char* fn) {
    Locked l;
    if (fn == nullptr) return 0;
    return static_cast<size_t>(std::count_if(l.st.log.begin(), l.st.log.end(),
                                             [fn](const LogEntry& e) { return e.name == fn; }));
}

P11MOCK_EXPORT long p11mock_log_last(const char* fn) {
    Locked l;
    if (fn == nullptr) return -1;
    for (size_t i = l.st.log.size(); i > 0; --i) {
        if (l.st.log[i - 1].name == fn) return static_cast<long>(i - 1);
    }
    return -1;
}

P11MOCK_EXPORT void p11mock_log_clear(void) {
    Locked l;
    l.st.log.clear();
    ++l.st.log_generation;
}

// ---- Signature-family callback ---------------------------------------------

P11MOCK_EXPORT unsigned p11mock_callback_registrations(void) {
    Locked l;
    return l.st.callback.registrations;
}

P11MOCK_EXPORT long p11mock_callback_last_kind(void) {
    Locked l;
    return l.st.callback.last_kind;
}

P11MOCK_EXPORT void* p11mock_callback_last_fn(void) {
    Locked l;
    return l.st.callback.last_fn;
}

P11MOCK_EXPORT void p11mock_callback_during(const char* fn) {
    Locked l;
    l.st.callback.armed_for = fn != nullptr ? fn : "";
}

P11MOCK_EXPORT int p11mock_callback_seen(void) {
    Locked l;
    return l.st.callback.seen;
}

P11MOCK_EXPORT CK_RV p11mock_callback_rv1(void) {
    Locked l;
    return l.st.callback.rv1;
}

P11MOCK_EXPORT CK_ULONG p11mock_callback_len1(void) {
    Locked l;
    return l.st.callback.len1;
}

P11MOCK_EXPORT CK_RV p11mock_callback_rv2(void) {
    Locked l;
    return l.st.callback.rv2;
}

P11MOCK_EXPORT CK_ULONG p11mock_callback_len2(void) {
    Locked l;
    return l.st.callback.len2;
}

P11MOCK_EXPORT const unsigned char* p11mock_callback_buf(void) {
    Locked l;
    return l.st.callback.buffer;
}

// ---- Toy algorithms ----------------------------------------------------------

P11MOCK_EXPORT void p11mock_set_cipher_block(CK_ULONG block) {
    Locked l;
    l.st.cipher_block = block == 0 ? 1 : block;
}

P11MOCK_EXPORT CK_ULONG p11mock_digest_length(CK_MECHANISM_TYPE mechanism) {
    return digest_length(mechanism);
}

P11MOCK_EXPORT void p11mock_toy_digest(CK_MECHANISM_TYPE mechanism, const unsigned char* data,
                                       CK_ULONG len, unsigned char* out) {
    const Bytes d = toy_digest(mechanism, to_bytes(data, len), digest_length(mechanism));
    std::copy(d.begin(), d.end(), out);
}

P11MOCK_EXPORT CK_ULONG p11mock_toy_signature(CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE mechanism,
                                              const unsigned char* data, CK_ULONG len,
                                              unsigned char* out, CK_ULONG capacity) {
    Locked l;
    const Object* k = l.st.object(key);
    if (k == nullptr) return 0;
    const Bytes sig =
        toy_signature(mechanism, signing_material(*k), to_bytes(data, len), signature_length(*k));
    if (out != nullptr && capacity >= sig.size()) std::copy(sig.begin(), sig.end(), out);
    return sig.size();
}

P11MOCK_EXPORT int p11mock_toy_cipher(CK_OBJECT_HANDLE key, const unsigned char* in, CK_ULONG len,
                                      unsigned char* out) {
    Locked l;
    const Object* k = l.st.object(key);
    if (k == nullptr) return 0;
    const Bytes x = toy_xor(cipher_key(*k), 0, in, len);
    std::copy(x.begin(), x.end(), out);
    return 1;
}

}  // extern "C"
