// The test module as the tests see it: its file, and its control interface
// resolved from the very instance the bridge loads.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "p11mock.h"

namespace kt {

class Mock {
  public:
    // path: the module file; the handle stays open for the whole run, so the
    // bridge's dlopen of the same path reaches this same instance.
    explicit Mock(const char* envVar) {
        const char* p = std::getenv(envVar);
        if (p == nullptr) {
            ADD_FAILURE() << envVar << " is not set";
            return;
        }
        path_ = p;
        handle_ = dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) ADD_FAILURE() << "cannot open " << path_ << ": " << dlerror();
    }

    const std::string& path() const { return path_; }

    template <typename F>
    F* fn(const char* name) const {
        void* sym = handle_ ? dlsym(handle_, name) : nullptr;
        if (sym == nullptr) ADD_FAILURE() << "control function missing: " << name;
        return reinterpret_cast<F*>(sym);
    }

#define KT_MOCK(name)                             \
    template <typename... A>                      \
    auto name(A... a) const {                     \
        return fn<decltype(::name)>(#name)(a...); \
    }
    KT_MOCK(p11mock_reset)
    KT_MOCK(p11mock_force_uninitialized)
    KT_MOCK(p11mock_is_initialized)
    KT_MOCK(p11mock_fail_next)
    KT_MOCK(p11mock_fail_nth)
    KT_MOCK(p11mock_buffer_too_small_next)
    KT_MOCK(p11mock_report_len_next)
    KT_MOCK(p11mock_clear_faults)
    KT_MOCK(p11mock_set_report_filler)
    KT_MOCK(p11mock_hook_next)
    KT_MOCK(p11mock_query_len_next)
    KT_MOCK(p11mock_endless_search)
    KT_MOCK(p11mock_buffer_too_small_always)
    KT_MOCK(p11mock_report_len_nth)
    KT_MOCK(p11mock_get_info)
    KT_MOCK(p11mock_set_info)
    KT_MOCK(p11mock_set_slots)
    KT_MOCK(p11mock_push_slot_event)
    KT_MOCK(p11mock_log_size)
    KT_MOCK(p11mock_log_name)
    KT_MOCK(p11mock_log_arg)
    KT_MOCK(p11mock_log_count)
    KT_MOCK(p11mock_log_last)
    KT_MOCK(p11mock_log_clear)
    KT_MOCK(p11mock_callback_registrations)
    KT_MOCK(p11mock_callback_last_kind)
    KT_MOCK(p11mock_callback_last_fn)
    KT_MOCK(p11mock_callback_during)
    KT_MOCK(p11mock_callback_seen)
    KT_MOCK(p11mock_callback_rv1)
    KT_MOCK(p11mock_callback_len1)
    KT_MOCK(p11mock_callback_rv2)
    KT_MOCK(p11mock_callback_len2)
    KT_MOCK(p11mock_callback_buf)
    KT_MOCK(p11mock_get_slot_info)
    KT_MOCK(p11mock_set_slot_info)
    KT_MOCK(p11mock_get_token_info)
    KT_MOCK(p11mock_set_token_info)
    KT_MOCK(p11mock_set_mechanisms)
    KT_MOCK(p11mock_set_session_handle_base)
    KT_MOCK(p11mock_session_count)
    KT_MOCK(p11mock_logged_in_user)
    KT_MOCK(p11mock_set_pins)
    KT_MOCK(p11mock_log_buffer)
    KT_MOCK(p11mock_log_rv)
    KT_MOCK(p11mock_add_object)
    KT_MOCK(p11mock_object_count)
    KT_MOCK(p11mock_set_sensitive)
    KT_MOCK(p11mock_set_object_handle_base)
    KT_MOCK(p11mock_set_cipher_block)
    KT_MOCK(p11mock_digest_length)
    KT_MOCK(p11mock_toy_digest)
    KT_MOCK(p11mock_toy_signature)
    KT_MOCK(p11mock_toy_cipher)
#undef KT_MOCK

      // Copy of buffer buf handed to the last call of fn.
    std::string lastBuffer(const char* fn, unsigned buf) const {
        const long call = p11mock_log_last(fn);
        if (call < 0) {
            ADD_FAILURE() << fn << " was not called";
            return "";
        }
        const unsigned char* data = nullptr;
        const size_t len = p11mock_log_buffer(static_cast<size_t>(call), buf, &data);
        return data ? std::string(reinterpret_cast<const char*>(data), len) : std::string();
    }
    CK_ULONG lastArg(const char* fn, unsigned arg) const {
        const long call = p11mock_log_last(fn);
        if (call < 0) {
            ADD_FAILURE() << fn << " was not called";
            return ~CK_ULONG(0);
        }
        return p11mock_log_arg(static_cast<size_t>(call), arg);
    }

private:
    std::string path_;
    void* handle_ = nullptr;
};

// The plain module and its signature-family twin, opened once per run.
const Mock& plainMock();
const Mock& quarnsigMock();

}  // namespace kt
