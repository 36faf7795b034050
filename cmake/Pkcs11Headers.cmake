# The PKCS#11 v2.x headers (pkcs11.h, pkcs11t.h, pkcs11f.h): Debian ships them
# with NSS, and they need NSPR's headers. Sets PKCS11_INCLUDE_DIRS; elsewhere
# pass -DPKCS11_INCLUDE_DIR. Homebrew's nss (macOS) is found under its prefix.
find_path(PKCS11_INCLUDE_DIR pkcs11.h PATHS /usr/include/nss /usr/local/include/nss
          /opt/homebrew/include/nss
          DOC "Directory holding pkcs11.h, pkcs11t.h and pkcs11f.h")
if(NOT PKCS11_INCLUDE_DIR)
  message(FATAL_ERROR "pkcs11.h not found: install libnss3-dev or set -DPKCS11_INCLUDE_DIR")
endif()
find_path(NSPR_INCLUDE_DIR prtypes.h PATHS /usr/include/nspr /usr/local/include/nspr
          /opt/homebrew/include/nspr)
set(PKCS11_INCLUDE_DIRS ${PKCS11_INCLUDE_DIR})
if(NSPR_INCLUDE_DIR)
  list(APPEND PKCS11_INCLUDE_DIRS ${NSPR_INCLUDE_DIR})
endif()
