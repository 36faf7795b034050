#include "mock_state.h"

#include <algorithm>
#include <cstring>

namespace p11mock {

const Attribute* Object::find(CK_ATTRIBUTE_TYPE type) const {
    for (const Attribute& a : attributes) {
        if (a.type == type) return &a;
    }
    return nullptr;
}

Attribute* Object::find(CK_ATTRIBUTE_TYPE type) {
    for (Attribute& a : attributes) {
        if (a.type == type) return &a;
    }
    return nullptr;
}

void Object::put(CK_ATTRIBUTE_TYPE type, const Bytes& value) {
    if (Attribute* a = find(type)) {
        a->value = value;
    } else {
        attributes.push_back(Attribute{type, value, false});
    }
}

bool Object::has_ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG* value) const {
    const Attribute* a = find(type);
    if (a == nullptr || a->value.size() != sizeof(CK_ULONG)) return false;
    std::memcpy(value, a->value.data(), sizeof(CK_ULONG));
    return true;
}

bool Object::is_true(CK_ATTRIBUTE_TYPE type) const {
    const Attribute* a = find(type);
    return a != nullptr && a->value.size() == 1 && a->value[0] != CK_FALSE;
}

void blank_pad(unsigned char* field, size_t width, const char* text) {
    std::memset(field, ' ', width);
    std::memcpy(field, text, std::min(width, std::strlen(text)));
}

Bytes ulong_bytes(CK_ULONG value) {
    Bytes b(sizeof(CK_ULONG));
    std::memcpy(b.data(), &value, sizeof(CK_ULONG));
    return b;
}

Bytes to_bytes(const void* data, CK_ULONG length) {
    if (data == nullptr) return Bytes();
    const unsigned char* p = static_cast<const unsigned char*>(data);
    return Bytes(p, p + length);
}

Slot default_slot(CK_SLOT_ID id, bool token_present) {
    Slot s;
    s.id = id;
    const std::string number = std::to_string(id);
    blank_pad(s.info.slotDescription, sizeof s.info.slotDescription,
              ("Kelvane test slot " + number).c_str());
    blank_pad(s.info.manufacturerID, sizeof s.info.manufacturerID, "Kelvane");
    s.info.flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT | (token_present ? CKF_TOKEN_PRESENT : 0);
    s.info.hardwareVersion = {1, 0};
    s.info.firmwareVersion = {1, 0};

    CK_TOKEN_INFO& t = s.token;
    blank_pad(t.label, sizeof t.label, ("Kelvane test token " + number).c_str());
    blank_pad(t.manufacturerID, sizeof t.manufacturerID, "Kelvane");
    blank_pad(t.model, sizeof t.model, "p11mock");
    std::string serial = std::string(16 - std::min<size_t>(16, number.size()), '0') + number;
    std::memcpy(t.serialNumber, serial.data(), sizeof t.serialNumber);
    t.flags = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED;
    t.ulMaxSessionCount = 16;
    t.ulSessionCount = 0;
    t.ulMaxRwSessionCount = 16;
    t.ulRwSessionCount = 0;
    t.ulMaxPinLen = 32;
    t.ulMinPinLen = 4;
    t.ulTotalPublicMemory = 65536;
    t.ulFreePublicMemory = 65536;
    t.ulTotalPrivateMemory = 65536;
    t.ulFreePrivateMemory = 65536;
    t.hardwareVersion = {1, 0};
    t.firmwareVersion = {1, 0};
    blank_pad(t.utcTime, sizeof t.utcTime, "");

    s.user_pin = Bytes{'1', '2', '3', '4'};
    s.so_pin = Bytes{'8', '7', '6', '5', '4', '3', '2', '1'};
    return s;
}

State::State() {
    reset();
}

void State::reset() {
    info = CK_INFO{};
    info.cryptokiVersion = {2, 20};
    blank_pad(info.manufacturerID, sizeof info.manufacturerID, "Kelvane");
    info.flags = 0;
    blank_pad(info.libraryDescription, sizeof info.libraryDescription, "Kelvane test module");
    info.libraryVersion = {3, 7};

    slots.clear();
    slots.push_back(default_slot(1, true));
    slots.push_back(default_slot(2, false));

    const CK_MECHANISM_TYPE types[] = {
        CKM_RSA_PKCS_KEY_PAIR_GEN, CKM_RSA_PKCS, CKM_SHA_1, CKM_SHA256,
        CKM_AES_KEY_GEN,           CKM_AES_CBC};
    const CK_MECHANISM_INFO infos[] = {
        {1024, 4096, CKF_HW | CKF_GENERATE_KEY_PAIR},
        {1024, 4096, CKF_HW | CKF_ENCRYPT | CKF_DECRYPT | CKF_SIGN | CKF_VERIFY},
        {0, 0, CKF_DIGEST},
        {0, 0, CKF_DIGEST},
        {16, 32, CKF_GENERATE},
        {16, 32, CKF_ENCRYPT | CKF_DECRYPT | CKF_WRAP | CKF_UNWRAP},
    };
    mechanisms.assign(std::begin(types), std::end(types));
    mechanism_info.assign(std::begin(infos), std::end(infos));

    objects.clear();
    object_index.clear();
    sessions.clear();
    next_session = 1;
    next_object = 1;
    events.clear();
    faults.clear();
    log.clear();
    ++log_generation;
    callback = CallbackState{};
    hook_for.clear();
    hook = nullptr;
    hook_arg = nullptr;
    report_filler = 0xA5;
    query_len.clear();
    endless_search = false;
    random_state = 0x5EEDF00DCAFEULL;
    cipher_block = 1;
}

void State::close_session(CK_SESSION_HANDLE handle) {
    auto it = std::find_if(sessions.begin(), sessions.end(),
                           [handle](const Session& s) { return s.handle == handle; });
    if (it == sessions.end()) return;
    const CK_SLOT_ID slot_id = it->slot;
    sessions.erase(it);
    remove_objects_if([handle](const Object& o) { return o.owner == handle; });
    // The login belongs to the token and ends with its last session.
    const bool slot_still_used =
        std::any_of(sessions.begin(), sessions.end(),
                    [slot_id](const Session& s) { return s.slot == slot_id; });
    if (!slot_still_used) {
        if (Slot* s = slot(slot_id)) s->logged_in = kNobodyLoggedIn;
    }
}

void State::drop_sessions() {
    remove_objects_if([](const Object& o) { return o.owner != kTokenOwner; });
    sessions.clear();
    for (Slot& s : slots) s.logged_in = kNobodyLoggedIn;
}

Slot* State::slot(CK_SLOT_ID id) {
    for (Slot& s : slots) {
        if (s.id == id) return &s;
    }
    return nullptr;
}

Session* State::session(CK_SESSION_HANDLE handle) {
    for (Session& s : sessions) {
        if (s.handle == handle) return &s;
    }
    return nullptr;
}

Object* State::object(CK_OBJECT_HANDLE handle) {
    // An index out of step (objects changed behind add_object) is rebuilt once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto it = object_index.find(handle);
        if (it != object_index.end() && it->second < objects.size() &&
            objects[it->second].handle == handle) {
            return &objects[it->second];
        }
        if (it == object_index.end() && object_index.size() == objects.size()) return nullptr;
        index_objects();
    }
    return nullptr;
}

void State::add_object(Object object) {
    object_index[object.handle] = objects.size();
    objects.push_back(std::move(object));
}

void State::index_objects() {
    object_index.clear();
    for (size_t i = 0; i < objects.size(); ++i) object_index[objects[i].handle] = i;
}

CK_OBJECT_HANDLE State::new_object_handle() {
    while (next_object == CK_INVALID_HANDLE || object(next_object) != nullptr) ++next_object;
    return next_object++;
}

CK_SESSION_HANDLE State::new_session_handle() {
    while (next_session == CK_INVALID_HANDLE || session(next_session) != nullptr) ++next_session;
    return next_session++;
}

State& state() {
    static State instance;
    return instance;
}

}  // namespace p11mock
