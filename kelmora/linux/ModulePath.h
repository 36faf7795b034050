// The memory-map scan behind getmodulepath on Linux, over text already read.
#pragma once

#include <cstddef>

namespace platform {

// The path of the first line of maps text (length bytes, possibly holding
// NULs) that names sModule: from the blank before the name (or the line's
// start) to the line's end. A newly allocated text, or null when no line
// names it. Each line is taken as a C string, so it ends at its first NUL.
char* modulePathInMaps(const char* text, std::size_t length, const char* sModule);

}  // namespace platform
