// Objects, attributes and searches.
#include <algorithm>
#include <cstring>
#include <utility>

#include "mock_call.h"

namespace p11mock {

CK_RV apply_template(Object& object, const CK_ATTRIBUTE* tmpl, CK_ULONG count) {
    if (tmpl == nullptr && count != 0) return CKR_ARGUMENTS_BAD;
    for (CK_ULONG i = 0; i < count; ++i) {
        if (tmpl[i].pValue == nullptr && tmpl[i].ulValueLen != 0)
            return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    for (CK_ULONG i = 0; i < count; ++i) {
        object.put(tmpl[i].type, to_bytes(tmpl[i].pValue, tmpl[i].ulValueLen));
    }
    return CKR_OK;
}

CK_RV store_object(State& st, const Session& session, Object object, CK_OBJECT_HANDLE_PTR handle) {
    const bool token = object.is_true(CKA_TOKEN);
    if (token && (session.flags & CKF_RW_SESSION) == 0) return CKR_SESSION_READ_ONLY;
    object.handle = st.new_object_handle();
    object.owner = token ? kTokenOwner : session.handle;
    *handle = object.handle;
    st.add_object(std::move(object));
    return CKR_OK;
}

}  // namespace p11mock

using namespace p11mock;

namespace {

bool matches(const Object& object, const std::vector<Attribute>& wanted) {
    return std::all_of(wanted.begin(), wanted.end(), [&object](const Attribute& w) {
        const Attribute* a = object.find(w.type);
        return a != nullptr && a->value == w.value;
    });
}

bool writable(const Object& object, const Session& session) {
    return object.owner != kTokenOwner || (session.flags & CKF_RW_SESSION) != 0;
}

}  // namespace

extern "C" {

P11MOCK_EXPORT CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate,
                                    CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phObject) {
    Call c("C_CreateObject");
    c.arg(hSession).ptr(pTemplate).arg(ulCount).ptr(phObject).input_template(pTemplate, ulCount);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    const Session* session = c.st.session(hSession);
    if (session == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    if (phObject == nullptr) return c.done(CKR_ARGUMENTS_BAD);
    Object object{};
    if ((rv = apply_template(object, pTemplate, ulCount)) != CKR_OK) return c.done(rv);
    return c.done(store_object(c.st, *session, object, phObject));
}

P11MOCK_EXPORT CK_RV C_CopyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                  CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                                  CK_OBJECT_HANDLE_PTR phNewObject) {
    Call c("C_CopyObject");
    c.arg(hSession).arg(hObject).ptr(pTemplate).arg(ulCount).ptr(phNewObject);
    c.input_template(pTemplate, ulCount);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    const Session* session = c.st.session(hSession);
    if (session == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    const Object* source = c.st.object(hObject);
    if (source == nullptr) return c.done(CKR_OBJECT_HANDLE_INVALID);
    if (phNewObject == nullptr) return c.done(CKR_ARGUMENTS_BAD);
    Object copy = *source;
    if ((rv = apply_template(copy, pTemplate, ulCount)) != CKR_OK) return c.done(rv);
    return c.done(store_object(c.st, *session, copy, phNewObject));
}

P11MOCK_EXPORT CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) {
    Call c("C_DestroyObject");
    c.arg(hSession).arg(hObject);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    const Session* session = c.st.session(hSession);
    if (session == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    const Object* object = c.st.object(hObject);
    if (object == nullptr) return c.done(CKR_OBJECT_HANDLE_INVALID);
    if (!writable(*object, *session)) return c.done(CKR_SESSION_READ_ONLY);
    c.st.remove_object(hObject);
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_GetObjectSize(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                     CK_ULONG_PTR pulSize) {
    Call c("C_GetObjectSize");
    c.arg(hSession).arg(hObject).ptr(pulSize);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    if (c.st.session(hSession) == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    const Object* object = c.st.object(hObject);
    if (object == nullptr) return c.done(CKR_OBJECT_HANDLE_INVALID);
    if (pulSize == nullptr) return c.done(CKR_ARGUMENTS_BAD);
    CK_ULONG size = 0;
    for (const Attribute& a : object->attributes) size += sizeof(CK_ATTRIBUTE) + a.value.size();
    CK_ULONG reported = 0;
    *pulSize = c.take_report(&reported) ? reported : size;
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                         CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    Call c("C_GetAttributeValue");
    c.arg(hSession).arg(hObject).ptr(pTemplate).arg(ulCount).output_template(pTemplate, ulCount);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    if (c.st.session(hSession) == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    const Object* object = c.st.object(hObject);
    if (object == nullptr) return c.done(CKR_OBJECT_HANDLE_INVALID);
    if (pTemplate == nullptr && ulCount != 0) return c.done(CKR_ARGUMENTS_BAD);

    bool fills = false;
    for (CK_ULONG i = 0; i < ulCount; ++i) fills = fills || pTemplate[i].pValue != nullptr;
    CK_ULONG too_small_len = 0;
    CK_ULONG report_len = 0;
    const bool fault_small = fills && c.take_too_small(&too_small_len);
    const bool fault_report = fills && !fault_small && c.take_report(&report_len);

    bool sensitive = false;
    bool invalid = false;
    bool small = false;
    for (CK_ULONG i = 0; i < ulCount; ++i) {
        CK_ATTRIBUTE& t = pTemplate[i];
        const Attribute* a = object->find(t.type);
        if (a == nullptr || a->sensitive) {
            (a == nullptr ? invalid : sensitive) = true;
            t.ulValueLen = CK_UNAVAILABLE_INFORMATION;
        } else if (t.pValue == nullptr) {
            CK_ULONG lie = 0;
            t.ulValueLen = c.take_query(&lie) ? lie : a->value.size();
        } else if (fault_small) {
            t.ulValueLen = too_small_len;
            small = true;
        } else if (fault_report) {
            write_reported(static_cast<unsigned char*>(t.pValue), t.ulValueLen, a->value.data(),
                           a->value.size(), report_len, 1);
            t.ulValueLen = report_len;
        } else if (t.ulValueLen < a->value.size()) {
            t.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            small = true;
        } else {
            if (!a->value.empty()) std::memcpy(t.pValue, a->value.data(), a->value.size());
            t.ulValueLen = a->value.size();
        }
    }
    if (sensitive) return c.done(CKR_ATTRIBUTE_SENSITIVE);
    if (invalid) return c.done(CKR_ATTRIBUTE_TYPE_INVALID);
    return c.done(small ? CKR_BUFFER_TOO_SMALL : CKR_OK);
}

P11MOCK_EXPORT CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject,
                                         CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    Call c("C_SetAttributeValue");
    c.arg(hSession).arg(hObject).ptr(pTemplate).arg(ulCount).input_template(pTemplate, ulCount);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    const Session* session = c.st.session(hSession);
    if (session == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    Object* object = c.st.object(hObject);
    if (object == nullptr) return c.done(CKR_OBJECT_HANDLE_INVALID);
    if (!writable(*object, *session)) return c.done(CKR_SESSION_READ_ONLY);
    return c.done(apply_template(*object, pTemplate, ulCount));
}

P11MOCK_EXPORT CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate,
                                       CK_ULONG ulCount) {
    Call c("C_FindObjectsInit");
    c.arg(hSession).ptr(pTemplate).arg(ulCount).input_template(pTemplate, ulCount);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    Session* session = c.st.session(hSession);
    if (session == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    if (session->finding) return c.done(CKR_OPERATION_ACTIVE);
    Object wanted{};
    if ((rv = apply_template(wanted, pTemplate, ulCount)) != CKR_OK) return c.done(rv);
    session->found.clear();
    for (const Object& o : c.st.objects) {
        if (matches(o, wanted.attributes)) session->found.push_back(o.handle);
    }
    session->found_next = 0;
    session->finding = true;
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject,
                                   CK_ULONG ulMaxObjectCount, CK_ULONG_PTR pulObjectCount) {
    Call c("C_FindObjects");
    c.arg(hSession).ptr(phObject).arg(ulMaxObjectCount).ptr(pulObjectCount);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    Session* session = c.st.session(hSession);
    if (session == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    if (!session->finding) return c.done(CKR_OPERATION_NOT_INITIALIZED);
    if (phObject == nullptr || pulObjectCount == nullptr) return c.done(CKR_ARGUMENTS_BAD);
    if (c.st.endless_search) {
        for (CK_ULONG i = 0; i < ulMaxObjectCount; ++i) phObject[i] = i + 1;
        *pulObjectCount = ulMaxObjectCount;
        return c.done(CKR_OK);
    }
    const CK_ULONG remaining = session->found.size() - session->found_next;
    const CK_OBJECT_HANDLE* next = session->found.data() + session->found_next;
    const CK_ULONG n = std::min(ulMaxObjectCount, remaining);
    CK_ULONG reported = 0;
    if (c.take_too_small(&reported)) {
        *pulObjectCount = reported;
        return c.done(CKR_BUFFER_TOO_SMALL);
    }
    if (c.take_report(&reported)) {
        write_reported(reinterpret_cast<unsigned char*>(phObject), ulMaxObjectCount,
                       reinterpret_cast<const unsigned char*>(next), n, reported, sizeof(CK_ULONG));
        session->found_next += std::min(n, reported);
        *pulObjectCount = reported;
        return c.done(CKR_OK);
    }
    std::copy(next, next + n, phObject);
    session->found_next += n;
    *pulObjectCount = n;
    return c.done(CKR_OK);
}

P11MOCK_EXPORT CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession) {
    Call c("C_FindObjectsFinal");
    c.arg(hSession);
    CK_RV rv;
    if (c.intercepted(&rv)) return rv;
    Session* session = c.st.session(hSession);
    if (session == nullptr) return c.done(CKR_SESSION_HANDLE_INVALID);
    if (!session->finding) return c.done(CKR_OPERATION_NOT_INITIALIZED);
    session->finding = false;
    session->found.clear();
    session->found_next = 0;
    return c.done(CKR_OK);
}

}  // extern "C"
