// One C_ entry point in progress: holds the module lock, records the call in
// the log, and applies the injected faults and the armed callback.
#pragma once

#include <mutex>

#include "mock_state.h"

namespace p11mock {

class Call {
  public:
    explicit Call(const char* name);
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    // Arguments in signature order (at most 8 are kept).
    Call& arg(CK_ULONG value);
    Call& ptr(const void* address);
    // In/out length: its value on entry is logged.
    Call& inout(const CK_ULONG* length);

    // Buffers in argument order; a null pointer still takes its place.
    Call& bytes(const void* data, CK_ULONG length);
    // Input template: records of [type][ulValueLen][value bytes].
    Call& input_template(const CK_ATTRIBUTE* tmpl, CK_ULONG count);
    // Output template: records of [type][ulValueLen][pValue address].
    Call& output_template(const CK_ATTRIBUTE* tmpl, CK_ULONG count);
    // [mechanism][ulParameterLen][parameter bytes], then, for the records
    // with pointer members, what each points to (see mock_call.cpp).
    Call& mechanism(const CK_MECHANISM* mech);

    // Runs the armed callback, then the injected failure of this call, then the
    // initialisation check. True when the call must end with *rv (already logged).
    bool intercepted(CK_RV* rv, bool needs_init = true);

    // Pending output faults of this function, consumed when taken.
    bool take_too_small(CK_ULONG* reported);
    bool take_report(CK_ULONG* reported);
    // A lying answer armed for this function's next length query.
    bool take_query(CK_ULONG* reported);

    // Logs the result and hands it back.
    CK_RV done(CK_RV rv);

    State& st;

  private:
    LogEntry* entry();
    void add_buffer(const Bytes& data, bool present);

    std::unique_lock<std::recursive_mutex> lock_;
    const char* name_;
    size_t index_;
    unsigned long generation_;
};

// Outcome of handing output to a caller buffer under the standard length rules.
struct Delivery {
    CK_RV rv;
    bool written;  // the caller's buffer received the output: commit the step
};

// Length query, CKR_BUFFER_TOO_SMALL, copy; honours the output faults.
Delivery deliver_bytes(Call& call, const Bytes& out, CK_BYTE_PTR buffer, CK_ULONG_PTR length);
CK_RV deliver_list(Call& call, const std::vector<CK_ULONG>& items, CK_ULONG_PTR buffer,
                   CK_ULONG_PTR count);

// What a lying module writes: the reported amount as far as the capacity
// allows, real elements first, then 0xA5 filler bytes.
void write_reported(unsigned char* dest, CK_ULONG capacity, const unsigned char* real,
                    CK_ULONG real_count, CK_ULONG reported, size_t element_size);

}  // namespace p11mock
