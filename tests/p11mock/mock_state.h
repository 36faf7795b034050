// In-memory token state shared by every entry point of the test module.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "p11mock.h"

#if defined(_WIN32)
#define P11MOCK_EXPORT __declspec(dllexport)
#else
#define P11MOCK_EXPORT __attribute__((visibility("default")))
#endif

namespace p11mock {

using Bytes = std::vector<unsigned char>;

constexpr CK_ULONG kNobodyLoggedIn = CK_UNAVAILABLE_INFORMATION;
constexpr CK_SESSION_HANDLE kTokenOwner = 0;

struct Attribute {
    CK_ATTRIBUTE_TYPE type;
    Bytes value;
    bool sensitive;
};

struct Object {
    CK_OBJECT_HANDLE handle;
    CK_SESSION_HANDLE owner;  // kTokenOwner for token objects
    std::vector<Attribute> attributes;

    const Attribute* find(CK_ATTRIBUTE_TYPE type) const;
    Attribute* find(CK_ATTRIBUTE_TYPE type);
    void put(CK_ATTRIBUTE_TYPE type, const Bytes& value);
    bool has_ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG* value) const;
    bool is_true(CK_ATTRIBUTE_TYPE type) const;
};

// Encryption or decryption in progress: a position in the key stream and the
// bytes held back until a whole block is available.
struct CipherOperation {
    bool active = false;
    Bytes key;
    CK_ULONG position = 0;
    Bytes pending;
};

// Digest, signature or verification in progress: the data collected so far.
struct CollectingOperation {
    bool active = false;
    CK_MECHANISM_TYPE mechanism = 0;
    Bytes material;
    CK_ULONG length = 0;
    Bytes data;
};

struct Session {
    CK_SESSION_HANDLE handle = 0;
    CK_SLOT_ID slot = 0;
    CK_FLAGS flags = 0;
    CipherOperation encrypt;
    CipherOperation decrypt;
    CollectingOperation digest;
    CollectingOperation sign;
    CollectingOperation verify;
    CollectingOperation sign_recover;
    CollectingOperation verify_recover;
    bool finding = false;
    std::vector<CK_OBJECT_HANDLE> found;
    size_t found_next = 0;
};

struct Slot {
    CK_SLOT_ID id = 0;
    CK_SLOT_INFO info{};
    CK_TOKEN_INFO token{};
    Bytes user_pin;
    Bytes so_pin;
    CK_ULONG logged_in = kNobodyLoggedIn;

    bool token_present() const { return (info.flags & CKF_TOKEN_PRESENT) != 0; }
};

struct FunctionFaults {
    unsigned long calls = 0;
    std::map<unsigned long, CK_RV> fail_at;  // call number -> result
    bool too_small = false;
    CK_ULONG too_small_len = 0;
    bool report = false;
    CK_ULONG report_len = 0;
    // A module stuck answering "too small": every output call, growing each time.
    bool too_small_always = false;
    CK_ULONG too_small_growth = 0;
    std::map<unsigned long, CK_ULONG> report_at;  // call number -> reported length
};

struct LogEntry {
    std::string name;
    unsigned arg_count = 0;
    CK_ULONG args[8] = {};
    CK_ULONG addresses[8] = {};
    std::vector<Bytes> buffers;
    std::vector<bool> present;
    CK_RV rv = CK_UNAVAILABLE_INFORMATION;
};

constexpr size_t kCallbackBufferSize = 64;

struct CallbackState {
    unsigned registrations = 0;
    long last_kind = 0;
    void* last_fn = nullptr;
    std::string armed_for;
    int seen = 0;
    CK_RV rv1 = 0;
    CK_ULONG len1 = 0;
    CK_RV rv2 = 0;
    CK_ULONG len2 = 0;
    unsigned char buffer[kCallbackBufferSize] = {};
};

struct State {
    std::recursive_mutex mutex;
    bool initialized = false;

    CK_INFO info{};
    std::vector<Slot> slots;
    std::vector<CK_MECHANISM_TYPE> mechanisms;
    std::vector<CK_MECHANISM_INFO> mechanism_info;
    std::vector<Object> objects;
    // Position of each object in objects, so lookups stay cheap with tens of
    // thousands of objects; kept in step by add_object and remove_objects_if.
    std::unordered_map<CK_OBJECT_HANDLE, size_t> object_index;
    std::vector<Session> sessions;
    CK_SESSION_HANDLE next_session = 1;
    CK_OBJECT_HANDLE next_object = 1;
    std::deque<CK_SLOT_ID> events;

    std::map<std::string, FunctionFaults> faults;
    std::vector<LogEntry> log;
    unsigned long log_generation = 0;

    CallbackState callback;
    // A test's function run once at the start of the next call of hook_for.
    std::string hook_for;
    void (*hook)(void*) = nullptr;
    void* hook_arg = nullptr;
    // What a lying call writes past the real bytes: a byte value, or -1 for
    // nothing (the caller's buffer keeps what it held).
    int report_filler = 0xA5;
    // Length a function's next length query (null buffer) answers with CKR_OK.
    std::map<std::string, CK_ULONG> query_len;
    // C_FindObjects fills every buffer it is handed and never runs dry.
    bool endless_search = false;
    uint64_t random_state = 0;
    CK_ULONG cipher_block = 1;

    State();
    // Everything back to the start state except the initialisation flag.
    void reset();
    // Closes every session (and its session objects) and logs everybody out.
    void drop_sessions();
    void close_session(CK_SESSION_HANDLE handle);

    Slot* slot(CK_SLOT_ID id);
    Session* session(CK_SESSION_HANDLE handle);
    Object* object(CK_OBJECT_HANDLE handle);
    void add_object(Object object);
    template <typename Pred>
    void remove_objects_if(Pred pred) {
        const size_t before = objects.size();
        objects.erase(std::remove_if(objects.begin(), objects.end(), pred), objects.end());
        if (objects.size() != before) index_objects();
    }
    void remove_object(CK_OBJECT_HANDLE handle) {
        remove_objects_if([handle](const Object& o) { return o.handle == handle; });
    }
    void index_objects();
    CK_OBJECT_HANDLE new_object_handle();
    CK_SESSION_HANDLE new_session_handle();
};

State& state();

// The state, locked for as long as this lives: what every control call takes first.
struct Locked {
    Locked() : st(state()), lock(st.mutex) {}
    State& st;
    std::lock_guard<std::recursive_mutex> lock;
};

// Fixed-width PKCS#11 text field: text then blanks.
void blank_pad(unsigned char* field, size_t width, const char* text);
Bytes ulong_bytes(CK_ULONG value);
// Copy of a caller buffer; empty for a null pointer.
Bytes to_bytes(const void* data, CK_ULONG length);
Slot default_slot(CK_SLOT_ID id, bool token_present);

// Checks a caller template, then sets its attributes on the object.
CK_RV apply_template(Object& object, const CK_ATTRIBUTE* tmpl, CK_ULONG count);
// Files a new object for the session: a token object when CKA_TOKEN is true
// (refused in a read-only session), otherwise one that ends with the session.
CK_RV store_object(State& st, const Session& session, Object object, CK_OBJECT_HANDLE_PTR handle);

}  // namespace p11mock
