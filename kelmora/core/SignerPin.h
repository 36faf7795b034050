// Arming the signer-PIN callback when a session opens.
#pragma once

#include "../kelmora.h"

// At every session opening: empty the store and, when the module offers the
// registration entry point, hand it GetPIN. A refused registration does not
// fail the opening.
void armSignerPinCallback();
