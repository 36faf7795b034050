// The system headers of the macOS keychain platform: Apple's own on macOS, or,
// for the check build elsewhere (TARNEL_MACOS_DECLARATIONS), the declarations
// of the few functions, types and constants it uses.
#pragma once

#if defined(TARNEL_MACOS_DECLARATIONS)
#include "check/AppleDeclarations.h"
#else
#include <CoreFoundation/CoreFoundation.h>
#include <Security/Security.h>
#include <Security/cssmapi.h>
#endif
