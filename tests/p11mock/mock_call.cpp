#include "mock_call.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace p11mock {

namespace {

using PinCallback = CK_RV (*)(CK_CHAR_PTR, CK_ULONG*);

void append_ulong(Bytes& out, CK_ULONG value) {
    const Bytes b = ulong_bytes(value);
    out.insert(out.end(), b.begin(), b.end());
}

// Calls the registered callback the way a signature-family module asks for
// the signer PIN: a length query, then a copy into a 64-byte buffer.
void run_callback(CallbackState& cb) {
    if (cb.last_fn == nullptr) return;
    PinCallback fn = reinterpret_cast<PinCallback>(cb.last_fn);
    CK_ULONG len = CK_UNAVAILABLE_INFORMATION;
    cb.rv1 = fn(nullptr, &len);
    cb.len1 = len;
    // A heap buffer of exactly the announced size, so an overrun is caught.
    std::unique_ptr<unsigned char[]> buf(new unsigned char[kCallbackBufferSize]);
    std::memset(buf.get(), 0xEE, kCallbackBufferSize);
    cb.rv2 = fn(buf.get(), &len);
    cb.len2 = len;
    std::memcpy(cb.buffer, buf.get(), kCallbackBufferSize);
    cb.seen = 1;
}

// One block a record member points to: [length][bytes]; nothing for a null member.
void append_block(Bytes& out, const void* data, CK_ULONG length) {
    if (data == nullptr) return;
    append_ulong(out, length);
    const unsigned char* p = static_cast<const unsigned char*>(data);
    out.insert(out.end(), p, p + length);
}

// The record only when the mechanism states exactly its size: anything else
// is logged raw, its pointers never followed.
template <typename Record>
const Record* record_of(const CK_MECHANISM* mech) {
    if (mech->pParameter == nullptr || mech->ulParameterLen != sizeof(Record)) return nullptr;
    return static_cast<const Record*>(mech->pParameter);
}

// The blocks behind the pointer members of the parameter records that have
// them (AES-GCM and CCM, ECDH, the encryption derivations, PBKDF2), in member
// order, at the length the record states for each. The password of PBKDF2 is
// read at *ulPasswordLen (0 bytes when that pointer is null), and the CK_ULONG
// behind ulPasswordLen follows as a block of its own. Every other type,
// including the older derivation records, is logged raw only.
void append_pointed(Bytes& out, const CK_MECHANISM* mech) {
    switch (mech->mechanism) {
        case CKM_AES_GCM:
            if (const auto* r = record_of<P11MockGcmParams>(mech)) {
                append_block(out, r->pIv, r->ulIvLen);
                append_block(out, r->pAAD, r->ulAADLen);
            }
            break;
        case CKM_AES_CCM:
            if (const auto* r = record_of<CK_CCM_PARAMS>(mech)) {
                append_block(out, r->pNonce, r->ulNonceLen);
                append_block(out, r->pAAD, r->ulAADLen);
            }
            break;
        case CKM_ECDH1_DERIVE:
        case CKM_ECDH1_COFACTOR_DERIVE:
            if (const auto* r = record_of<CK_ECDH1_DERIVE_PARAMS>(mech)) {
                append_block(out, r->pSharedData, r->ulSharedDataLen);
                append_block(out, r->pPublicData, r->ulPublicDataLen);
            }
            break;
        case CKM_DES_ECB_ENCRYPT_DATA:
        case CKM_DES3_ECB_ENCRYPT_DATA:
        case CKM_AES_ECB_ENCRYPT_DATA:
            if (const auto* r = record_of<CK_KEY_DERIVATION_STRING_DATA>(mech)) {
                append_block(out, r->pData, r->ulLen);
            }
            break;
        case CKM_DES_CBC_ENCRYPT_DATA:
        case CKM_DES3_CBC_ENCRYPT_DATA:
            if (const auto* r = record_of<CK_DES_CBC_ENCRYPT_DATA_PARAMS>(mech)) {
                append_block(out, r->pData, r->length);
            }
            break;
        case CKM_AES_CBC_ENCRYPT_DATA:
            if (const auto* r = record_of<CK_AES_CBC_ENCRYPT_DATA_PARAMS>(mech)) {
                append_block(out, r->pData, r->length);
            }
            break;
        case CKM_PKCS5_PBKD2:
            if (const auto* r = record_of<CK_PKCS5_PBKD2_PARAMS>(mech)) {
                append_block(out, r->pSaltSourceData, r->ulSaltSourceDataLen);
                append_block(out, r->pPrfData, r->ulPrfDataLen);
                append_block(out, r->pPassword, r->ulPasswordLen ? *r->ulPasswordLen : 0);
                append_block(out, r->ulPasswordLen, sizeof(CK_ULONG));
            }
            break;
        default:
            break;
    }
}

}  // namespace

Call::Call(const char* name)
    : st(state()),
      lock_(st.mutex),
      name_(name),
      index_(st.log.size()),
      generation_(st.log_generation) {
    st.log.emplace_back();
    st.log.back().name = name;
    ++st.faults[name].calls;
}

LogEntry* Call::entry() {
    // The log may have been cleared by a callback while this call ran.
    if (generation_ != st.log_generation || index_ >= st.log.size()) return nullptr;
    return &st.log[index_];
}

Call& Call::arg(CK_ULONG value) {
    if (LogEntry* e = entry()) {
        if (e->arg_count < 8) {
            e->args[e->arg_count] = value;
            e->addresses[e->arg_count] = value;
            ++e->arg_count;
        }
    }
    return *this;
}

Call& Call::ptr(const void* address) {
    return arg(static_cast<CK_ULONG>(reinterpret_cast<uintptr_t>(address)));
}

Call& Call::inout(const CK_ULONG* length) {
    if (LogEntry* e = entry()) {
        if (e->arg_count < 8) {
            e->args[e->arg_count] = length != nullptr ? *length : 0;
            e->addresses[e->arg_count] = static_cast<CK_ULONG>(reinterpret_cast<uintptr_t>(length));
            ++e->arg_count;
        }
    }
    return *this;
}

void Call::add_buffer(const Bytes& data, bool present) {
    if (LogEntry* e = entry()) {
        e->buffers.push_back(data);
        e->present.push_back(present);
    }
}

Call& Call::bytes(const void* data, CK_ULONG length) {
    if (data == nullptr) {
        add_buffer(Bytes(), false);
    } else {
        const unsigned char* p = static_cast<const unsigned char*>(data);
        add_buffer(Bytes(p, p + length), true);
    }
    return *this;
}

Call& Call::input_template(const CK_ATTRIBUTE* tmpl, CK_ULONG count) {
    if (tmpl == nullptr) {
        add_buffer(Bytes(), false);
        return *this;
    }
    Bytes out;
    for (CK_ULONG i = 0; i < count; ++i) {
        append_ulong(out, tmpl[i].type);
        append_ulong(out, tmpl[i].ulValueLen);
        if (tmpl[i].pValue != nullptr) {
            const unsigned char* p = static_cast<const unsigned char*>(tmpl[i].pValue);
            out.insert(out.end(), p, p + tmpl[i].ulValueLen);
        }
    }
    add_buffer(out, true);
    return *this;
}

Call& Call::output_template(const CK_ATTRIBUTE* tmpl, CK_ULONG count) {
    if (tmpl == nullptr) {
        add_buffer(Bytes(), false);
        return *this;
    }
    Bytes out;
    for (CK_ULONG i = 0; i < count; ++i) {
        append_ulong(out, tmpl[i].type);
        append_ulong(out, tmpl[i].ulValueLen);
        append_ulong(out, static_cast<CK_ULONG>(reinterpret_cast<uintptr_t>(tmpl[i].pValue)));
    }
    add_buffer(out, true);
    return *this;
}

Call& Call::mechanism(const CK_MECHANISM* mech) {
    if (mech == nullptr) {
        add_buffer(Bytes(), false);
        return *this;
    }
    Bytes out;
    append_ulong(out, mech->mechanism);
    append_ulong(out, mech->ulParameterLen);
    if (mech->pParameter != nullptr) {
        const unsigned char* p = static_cast<const unsigned char*>(mech->pParameter);
        out.insert(out.end(), p, p + mech->ulParameterLen);
        append_pointed(out, mech);
    }
    add_buffer(out, true);
    return *this;
}

bool Call::intercepted(CK_RV* rv, bool needs_init) {
    if (st.hook != nullptr && st.hook_for == name_) {
        void (*hook)(void*) = st.hook;
        st.hook = nullptr;
        st.hook_for.clear();
        hook(st.hook_arg);
    }
    if (!st.callback.armed_for.empty() && st.callback.armed_for == name_) {
        st.callback.armed_for.clear();
        run_callback(st.callback);
    }
    FunctionFaults& f = st.faults[name_];
    auto it = f.fail_at.find(f.calls);
    if (it != f.fail_at.end()) {
        *rv = done(it->second);
        f.fail_at.erase(it);
        return true;
    }
    if (needs_init && !st.initialized) {
        *rv = done(CKR_CRYPTOKI_NOT_INITIALIZED);
        return true;
    }
    return false;
}

bool Call::take_too_small(CK_ULONG* reported) {
    FunctionFaults& f = st.faults[name_];
    if (f.too_small_always) {
        *reported = f.too_small_len;
        f.too_small_len += f.too_small_growth;
        return true;
    }
    if (!f.too_small) return false;
    f.too_small = false;
    *reported = f.too_small_len;
    return true;
}

bool Call::take_query(CK_ULONG* reported) {
    auto it = st.query_len.find(name_);
    if (it == st.query_len.end()) return false;
    *reported = it->second;
    st.query_len.erase(it);
    return true;
}

bool Call::take_report(CK_ULONG* reported) {
    FunctionFaults& f = st.faults[name_];
    auto at = f.report_at.find(f.calls);
    if (at != f.report_at.end()) {
        *reported = at->second;
        f.report_at.erase(at);
        return true;
    }
    if (!f.report) return false;
    f.report = false;
    *reported = f.report_len;
    return true;
}

CK_RV Call::done(CK_RV rv) {
    if (LogEntry* e = entry()) e->rv = rv;
    return rv;
}

void write_reported(unsigned char* dest, CK_ULONG capacity, const unsigned char* real,
                    CK_ULONG real_count, CK_ULONG reported, size_t element_size) {
    const CK_ULONG n = std::min(reported, capacity);
    const CK_ULONG from_real = std::min(n, real_count);
    if (from_real > 0) std::memcpy(dest, real, from_real * element_size);
    const int filler = state().report_filler;
    if (n > from_real && filler >= 0) {
        std::memset(dest + from_real * element_size, filler, (n - from_real) * element_size);
    }
}

Delivery deliver_bytes(Call& call, const Bytes& out, CK_BYTE_PTR buffer, CK_ULONG_PTR length) {
    if (length == nullptr) return {CKR_ARGUMENTS_BAD, false};
    if (buffer == nullptr) {
        CK_ULONG lie = 0;
        *length = call.take_query(&lie) ? lie : out.size();
        return {CKR_OK, false};
    }
    CK_ULONG reported = 0;
    if (call.take_too_small(&reported)) {
        *length = reported;
        return {CKR_BUFFER_TOO_SMALL, false};
    }
    if (call.take_report(&reported)) {
        write_reported(buffer, *length, out.data(), out.size(), reported, 1);
        *length = reported;
        return {CKR_OK, true};
    }
    if (*length < out.size()) {
        *length = out.size();
        return {CKR_BUFFER_TOO_SMALL, false};
    }
    if (!out.empty()) std::memcpy(buffer, out.data(), out.size());
    *length = out.size();
    return {CKR_OK, true};
}

CK_RV deliver_list(Call& call, const std::vector<CK_ULONG>& items, CK_ULONG_PTR buffer,
                   CK_ULONG_PTR count) {
    if (count == nullptr) return CKR_ARGUMENTS_BAD;
    if (buffer == nullptr) {
        CK_ULONG lie = 0;
        *count = call.take_query(&lie) ? lie : items.size();
        return CKR_OK;
    }
    CK_ULONG reported = 0;
    if (call.take_too_small(&reported)) {
        *count = reported;
        return CKR_BUFFER_TOO_SMALL;
    }
    if (call.take_report(&reported)) {
        write_reported(reinterpret_cast<unsigned char*>(buffer), *count,
                       reinterpret_cast<const unsigned char*>(items.data()), items.size(), reported,
                       sizeof(CK_ULONG));
        *count = reported;
        return CKR_OK;
    }
    if (*count < items.size()) {
        *count = items.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    std::copy(items.begin(), items.end(), buffer);
    *count = items.size();
    return CKR_OK;
}

}  // namespace p11mock
