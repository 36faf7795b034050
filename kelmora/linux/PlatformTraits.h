// Linux: natural alignment, CK_ULONG as wide as long, bridge version 1.2.
#pragma once

#include "../posix/Narrowing.h"

namespace platform {

constexpr CK_BYTE kLibVersionMinor = 2;
// Size of the buffer every attribute read is primed with.
constexpr CK_ULONG kAttributeReadBufferSize = 2048;

}  // namespace platform
