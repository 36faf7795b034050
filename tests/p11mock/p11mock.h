// Control interface of the test PKCS#11 module (libp11mock.so and its
// signature-family twin libp11mock-quarnsig.so).
//
// The module keeps one in-memory state per process. Tests link against the
// module (or dlopen it) and steer it through these plain C exports while the
// bridge reaches it through C_GetFunctionList like any vendor module.
#pragma once

#include <stddef.h>

#include "pkcs11.h"

// CKM_AES_GCM's record as the v2.40 header lays it out (the installed headers
// name another layout), packed like every Cryptoki structure on Windows. The
// module reads it, and the tests declare the bridge's records against it.
#if defined(_WIN32)
#pragma pack(push, 1)
#endif
typedef struct P11MockGcmParams {
    CK_BYTE_PTR pIv;
    CK_ULONG ulIvLen;
    CK_ULONG ulIvBits;
    CK_BYTE_PTR pAAD;
    CK_ULONG ulAADLen;
    CK_ULONG ulTagBits;
} P11MockGcmParams;
#if defined(_WIN32)
#pragma pack(pop)
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Back to the start state: two slots (IDs 1 and 2, a token only in slot 1),
// default info records, no objects, no sessions, no faults, empty call log,
// handle bases 1, no pending slot events, callback settings cleared.
// Does not change whether C_Initialize has been called.
void p11mock_reset(void);

// Forces C_Initialize's bookkeeping back to "not initialised" without a call.
void p11mock_force_uninitialized(void);
int p11mock_is_initialized(void);

// ---- Fault injection -------------------------------------------------------
// fn is the standard function name, e.g. "C_GetSlotList".
// The next call of fn (after the call that is already under way, if any)
// returns rv without doing anything else.
void p11mock_fail_next(const char* fn, CK_RV rv);
// Call number n (1-based, counted from now) of fn returns rv without doing
// anything else; earlier and later calls behave normally.
void p11mock_fail_nth(const char* fn, unsigned n, CK_RV rv);
// The next output-producing call of fn answers CKR_BUFFER_TOO_SMALL and
// stores reported_len (0 allowed) in its length/count out-argument, whatever
// the buffer it was handed.
void p11mock_buffer_too_small_next(const char* fn, CK_ULONG reported_len);
// The next call of fn that fills a caller buffer succeeds with CKR_OK but
// reports reported_len in its length/count out-argument (a lying module).
// Only reported_len bytes that fit the real buffer are written.
void p11mock_report_len_next(const char* fn, CK_ULONG reported_len);
// Drops every pending fault.
void p11mock_clear_faults(void);
// What a lying call (report_len_next) writes past the real bytes: 0xA5 by
// default; -1 writes nothing, so the caller's buffer keeps what it held
// before, as with a module that claims bytes it never wrote.
void p11mock_set_report_filler(int byte_or_minus_one);
// Runs hook(arg) once, at the start of the next call of fn (before its
// faults), on the calling thread: a stand-in for whatever a module may do
// during a call.
void p11mock_hook_next(const char* fn, void (*hook)(void*), void* arg);
// The next length query (null buffer) of fn answers CKR_OK with reported_len
// whatever the output would be (an attribute read: that attribute's query).
void p11mock_query_len_next(const char* fn, CK_ULONG reported_len);
// While on, C_FindObjects fills every buffer it is handed and never runs dry:
// a module whose search never ends.
void p11mock_endless_search(int on);
// Misbehaving modules, until p11mock_clear_faults: every output-producing
// call of fn answers CKR_BUFFER_TOO_SMALL, reporting first_len, then
// first_len + growth, first_len + 2 * growth, ... (growth 0: the same length
// forever).
void p11mock_buffer_too_small_always(const char* fn, CK_ULONG first_len, CK_ULONG growth);
// Like p11mock_report_len_next, for call number n (1-based, counted from now)
// of fn only, e.g. the exact-size re-read after a length query.
void p11mock_report_len_nth(const char* fn, unsigned n, CK_ULONG reported_len);

// ---- Info records ----------------------------------------------------------
// Defaults: blank-padded texts ("Kelvane test module", "Kelvane"), version
// 2.20, library version 3.7, flags 0.
void p11mock_get_info(CK_INFO* out);
void p11mock_set_info(const CK_INFO* info);
// Slot records; slot_index is the position in the slot list (0-based).
void p11mock_get_slot_info(unsigned slot_index, CK_SLOT_INFO* out);
void p11mock_set_slot_info(unsigned slot_index, const CK_SLOT_INFO* info);
void p11mock_get_token_info(unsigned slot_index, CK_TOKEN_INFO* out);
void p11mock_set_token_info(unsigned slot_index, const CK_TOKEN_INFO* info);

// Replaces the slot list: count slots with the given IDs; token_present[i]
// says whether slot i holds a token (sets CKF_TOKEN_PRESENT accordingly).
void p11mock_set_slots(unsigned count, const CK_SLOT_ID* ids, const int* token_present);

// Mechanism list of every slot (default: a few ordinary mechanisms).
void p11mock_set_mechanisms(unsigned count, const CK_MECHANISM_TYPE* types,
                            const CK_MECHANISM_INFO* infos);

// ---- Handles and events ----------------------------------------------------
// Next session handle / object handle handed out (default 1 each); set
// above 0x7FFFFFFF to test handle widths.
void p11mock_set_session_handle_base(CK_SESSION_HANDLE first);
void p11mock_set_object_handle_base(CK_OBJECT_HANDLE first);
// Queues a slot event that C_WaitForSlotEvent reports (FIFO). With the queue
// empty, C_WaitForSlotEvent with CKF_DONT_BLOCK answers CKR_NO_EVENT; without
// it, the call also answers CKR_NO_EVENT (it never blocks in tests).
void p11mock_push_slot_event(CK_SLOT_ID slot);

// ---- Objects ---------------------------------------------------------------
// Adds a token object with the given template (values copied); returns its
// handle. Visible to every session.
CK_OBJECT_HANDLE p11mock_add_object(const CK_ATTRIBUTE* tmpl, CK_ULONG count);
CK_ULONG p11mock_object_count(void);
// Marks an attribute type as sensitive on an object (reads answer
// CKR_ATTRIBUTE_SENSITIVE).
void p11mock_set_sensitive(CK_OBJECT_HANDLE obj, CK_ATTRIBUTE_TYPE type);

// ---- Call log --------------------------------------------------------------
// Every C_ function call is recorded with its name, up to 8 scalar
// arguments (pointers recorded as their address, 0 for NULL, scalars and
// lengths by value; for out-length pointers the value on entry) and copies
// of the buffers handed in (PINs, labels, data, templates flattened as
// type/len/value records, mechanism parameters).
size_t p11mock_log_size(void);
const char* p11mock_log_name(size_t index);
CK_ULONG p11mock_log_arg(size_t index, unsigned arg);
// Copy of buffer number buf (0-based, in argument order) handed to call
// index; returns its length and sets *data (NULL when none).
size_t p11mock_log_buffer(size_t index, unsigned buf, const unsigned char** data);
CK_RV p11mock_log_rv(size_t index);
// Number of calls of fn in the log, and index of its last call (or -1).
size_t p11mock_log_count(const char* fn);
long p11mock_log_last(const char* fn);
void p11mock_log_clear(void);

// ---- Signature-family callback (libp11mock-quarnsig.so only) ---------------
// Whether C_SetCallBack was called, how often, and the last arguments.
unsigned p11mock_callback_registrations(void);
long p11mock_callback_last_kind(void);
void* p11mock_callback_last_fn(void);
// When fn is next called, the module calls the registered callback twice
// before doing its own work: first cb(NULL, &len), then, with a buffer of
// 64 bytes filled with 0xEE, cb(buf, &len). What it saw is kept below.
void p11mock_callback_during(const char* fn);
int p11mock_callback_seen(void);                  // 1 once the callback ran
CK_RV p11mock_callback_rv1(void);                 // result of the length query
CK_ULONG p11mock_callback_len1(void);             // length from the query
CK_RV p11mock_callback_rv2(void);                 // result of the copy call
CK_ULONG p11mock_callback_len2(void);             // length from the copy call
const unsigned char* p11mock_callback_buf(void);  // the 64-byte buffer after

// ---- Details of the behaviour above ---------------------------------------
// Each build keeps its own state and binds its calls to itself: a test that
// links one build and loads the other steers the loaded one through that
// file's own p11mock_* exports (dlsym), or links the build it loads.
//
// Faults: a call first runs the armed callback, then its fail_next/fail_nth
// fault, then the initialisation check. buffer_too_small_next and
// report_len_next fire on the next call of fn that is handed an output buffer
// (a length query with a NULL buffer does not consume them) and that gets as
// far as producing its output; too-small wins when both are pending. A lying
// call writes min(reported_len, capacity) elements: the real ones first, then
// filler bytes 0xA5. report_len_next also applies to C_GetObjectSize (the
// size reported) and to C_FindObjects (the count reported; the handles
// written are taken from the search). For C_GetAttributeValue every entry
// with a non-NULL pValue gets the reported length.
// p11mock_callback_during is used up by the next call of fn even when no
// callback is registered (nothing runs, p11mock_callback_seen stays 0); the
// copy call is handed the length the query reported.
// C_GetAttributeValue with several problems answers, in this order,
// CKR_ATTRIBUTE_SENSITIVE, CKR_ATTRIBUTE_TYPE_INVALID, CKR_BUFFER_TOO_SMALL.
//
// Log: arguments are numbered in the C signature's order. In/out lengths
// (pulCount, pul...Len) are logged by their value on entry; pure outputs
// (phSession, phObject, pulObjectCount, pulSize, pInfo, ...) by address.
// Buffers in argument order, a NULL one still taking its place (length 0,
// data NULL): C_InitToken PIN then 32-byte label; C_SetPIN old then new;
// data inputs and signatures; mechanism records; input templates as
// [type][ulValueLen][value bytes] records (CK_ULONGs in host order); the
// output template of C_GetAttributeValue as [type][ulValueLen][pValue
// address] records. C_GenerateKeyPair: mechanism, public, private template.
// C_UnwrapKey: mechanism, wrapped key, template.
// A mechanism is logged as [type][ulParameterLen][parameter bytes]; when its
// type is CKM_AES_GCM, CKM_AES_CCM, CKM_ECDH1_(COFACTOR_)DERIVE, one of the
// six CKM_*_ENCRYPT_DATA or CKM_PKCS5_PBKD2 and ulParameterLen is the size of
// its record, each non-NULL pointer member follows, in member order, as
// [length][the bytes it points to] at the length the record states (a NULL
// member adds nothing). PBKDF2: salt-source data, PRF data, the password at
// *ulPasswordLen, then the CK_ULONG that ulPasswordLen points to.
//
// Token: default user PIN "1234", SO PIN "87654321"; objects are shared by
// all slots; objects made through a session without CKA_TOKEN = true vanish
// with it; token objects need a read/write session.
//
// Toy algorithms (any mechanism accepted; the key handle must name an
// existing object, else CKR_KEY_HANDLE_INVALID): cipher = XOR with the key's CKA_VALUE repeated
// (0x5A when absent) over the whole operation's stream; digest length by mechanism (MD5 16, SHA-1
// 20, SHA-256 32, SHA-512 64, otherwise 20); signature keyed by CKA_MODULUS, else CKA_VALUE, else
// the handle, CKA_MODULUS_BITS / 8 bytes long (64 without); sign-recover = XOR of the data with
// that key material. Generated key pairs share CKA_MODULUS, so a signature made with the private
// key verifies with the public one. C_GetOperationState saves the digest in
// progress.

// Replaces the PINs of the token in slot slot_index (NULL keeps one).
void p11mock_set_pins(unsigned slot_index, const char* user_pin, const char* so_pin);
// Open sessions, all slots together.
CK_ULONG p11mock_session_count(void);
// CKU_SO, CKU_USER, or CK_UNAVAILABLE_INFORMATION when nobody is logged in.
CK_ULONG p11mock_logged_in_user(unsigned slot_index);

// Raw value of argument arg: the address for in/out lengths, else as logged.
CK_ULONG p11mock_log_address(size_t index, unsigned arg);
unsigned p11mock_log_arg_count(size_t index);

// Encrypt/decrypt updates hand out whole blocks of this size only and keep
// the rest for the final call (default 1: everything at once).
void p11mock_set_cipher_block(CK_ULONG block);
// Reference results of the toy algorithms, for checking data flow.
CK_ULONG p11mock_digest_length(CK_MECHANISM_TYPE mechanism);
// Writes p11mock_digest_length(mechanism) bytes.
void p11mock_toy_digest(CK_MECHANISM_TYPE mechanism, const unsigned char* data, CK_ULONG len,
                        unsigned char* out);
// Signature the key object would give; returns its length (0 for an unknown
// key) and writes it when out holds capacity >= that length.
CK_ULONG p11mock_toy_signature(CK_OBJECT_HANDLE key, CK_MECHANISM_TYPE mechanism,
                               const unsigned char* data, CK_ULONG len, unsigned char* out,
                               CK_ULONG capacity);
// Toy cipher output of a fresh operation with this key (len bytes);
// 0 for an unknown key.
int p11mock_toy_cipher(CK_OBJECT_HANDLE key, const unsigned char* in, CK_ULONG len,
                       unsigned char* out);

#ifdef __cplusplus
}
#endif
