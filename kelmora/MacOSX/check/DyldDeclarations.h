// Declarations of the dyld functions that DyldImages.cpp calls, written from
// the documentation of <mach-o/dyld.h>. Used ONLY by the check build on other
// systems (KELVANE_MACOS_DECLARATIONS): nothing here is defined, and what is
// compiled against it is never linked or run. It shows that the macOS file is
// whole and calls each function as declared here; the static assertions in
// DyldImages.cpp say what the code assumes of the real header.
#pragma once

#include <cstdint>

extern "C" {

// mach-o/loader.h: the header at the start of every loaded image. Only its
// address is used, so it stays incomplete here.
struct mach_header;

// mach-o/dyld.h
std::uint32_t _dyld_image_count(void);
const struct mach_header* _dyld_get_image_header(std::uint32_t image_index);
const char* _dyld_get_image_name(std::uint32_t image_index);
}
