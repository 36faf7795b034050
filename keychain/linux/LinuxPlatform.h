// The Linux implementation of the keychain operations, and what tests may read
// of it. A keychain is a directory; the search lists come from a configuration
// file (TARNEL_KEYCHAINS, else ~/.config/tarnel/keychains.conf); identities are
// NAME.p12 files and NAME.key + NAME.crt pairs; signing is OpenSSL's; events
// come from inotify.
#pragma once

#include <cstddef>

#include "../Platform.h"

namespace tarnel::linux_platform {

// Objects this implementation has made and not yet freed (arrays, keychains,
// searches, identities, keys, certificates, attribute lists, signature contexts).
std::size_t liveObjects();
// The reference count of a live object; 0 for anything else.
long referenceCount(Ref ref);
// Releases of something that is not a live object (ignored, but counted).
std::size_t strayReleases();

}  // namespace tarnel::linux_platform
