// Parameter records the installed Cryptoki headers leave out or lay out
// otherwise than modules expect. Each is declared once, here, laid out as the
// v2.40 header does it and packed like every Cryptoki structure (to 1 byte
// under _WIN32).
#pragma once

#include "../kelmora.h"

#if defined(_WIN32)
#pragma pack(push, 1)
#endif

// CKM_AES_GCM. The v2.40 header and the v2.40 document disagree (the document
// has no ulIvBits); modules follow the header, and so does this record.
struct Pkcs11GcmParams {
    CK_BYTE_PTR pIv;
    CK_ULONG ulIvLen;
    CK_ULONG ulIvBits;
    CK_BYTE_PTR pAAD;
    CK_ULONG ulAADLen;
    CK_ULONG ulTagBits;
};

#if defined(_WIN32)
#pragma pack(pop)
#endif
