// The CK_RV description table: upper-case texts blank-padded to 34 characters.
#pragma once

#include "kelmora.h"

constexpr std::size_t kErrorDescriptionCount = 84;
constexpr std::size_t kErrorDescriptionWidth = 34;

extern "C" KELMORA_API const ErrorDesc errorDescriptions[kErrorDescriptionCount];
