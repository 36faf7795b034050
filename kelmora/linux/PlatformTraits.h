// Linux: natural alignment, CK_ULONG as wide as long, bridge version 1.2.
#pragma once

#include "../posix/Narrowing.h"

namespace platform {

constexpr CK_BYTE kLibVersionMinor = 2;
// Trace text of the loader when the signature-family entry point is found.
constexpr const char* kFoundSetCallBackTrace = "loadLibrary J - found C_SetCallback function";
// Name of the trace file (defined, never opened).
constexpr const char* kTraceFilePath = "~/zmx-libkelmora_log_file.txt";
// Size of the buffer every attribute read is primed with.
constexpr CK_ULONG kAttributeReadBufferSize = 2048;

}  // namespace platform
