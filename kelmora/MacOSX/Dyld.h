// dyld's image-list calls: the system's header on macOS or, for the check
// build elsewhere (KELVANE_MACOS_DECLARATIONS), declarations of the three
// functions DyldImages.cpp uses.
#pragma once

#if defined(KELVANE_MACOS_DECLARATIONS)
#include "check/DyldDeclarations.h"
#else
#include <mach-o/dyld.h>
#endif
