// The signer-PIN store and the callback a signature-family module calls to
// ask for it during a module call.
#pragma once

#include "../kelmora.h"

extern "C" KELMORA_API CK_RV GetPIN(CK_CHAR_PTR pPin, CK_ULONG* ulPinLen);

// At every session opening: empty the store and, when the module offers the
// registration entry point, hand it GetPIN. A refused registration does not
// fail the opening.
void armSignerPinCallback();
