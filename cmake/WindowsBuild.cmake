# The Windows x64 build (cmake/mingw-w64-x86_64.cmake): kelvane.dll, the test
# module as two DLLs and the Windows test executable, which ctest runs under
# wine. There is no Windows JVM or JDK here: the Java jars, the keychain
# bridge and the suites that need a JVM are not built.

# jni.h comes from the host JDK (cmake/HostJdk.cmake); its machine-dependent
# part is kelmora/win/include/jni_md.h, never include/linux.
include(${CMAKE_CURRENT_LIST_DIR}/HostJdk.cmake)
kelvane_find_host_jdk()
set(_jdk_include "${KELVANE_HOST_JDK}/include")

# The PKCS#11 headers of NSS (pkcs11.h, pkcs11t.h, pkcs11f.h and the three
# they include): they pack every structure to 1 byte under _WIN32 (pkcs11p.h
# / pkcs11u.h) and declare CK_ULONG as unsigned long, 32 bits on Windows. Of
# NSPR they need only PR_CALLBACK, from kelmora/win/include/prtypes.h.
if(NOT PKCS11_INCLUDE_DIR)
  find_path(PKCS11_INCLUDE_DIR pkcs11.h PATHS /usr/include/nss /usr/local/include/nss
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
endif()
if(NOT PKCS11_INCLUDE_DIR)
  message(FATAL_ERROR "pkcs11.h not found: install libnss3-dev or set -DPKCS11_INCLUDE_DIR")
endif()

# Only these headers are visible to the Windows build, copied beside each
# other in the build tree: no other JDK or NSS header can be picked up.
set(_win_headers ${CMAKE_BINARY_DIR}/win-include)
configure_file(${_jdk_include}/jni.h ${_win_headers}/jni.h COPYONLY)
foreach(_h pkcs11.h pkcs11t.h pkcs11f.h pkcs11n.h pkcs11p.h pkcs11u.h)
  configure_file(${PKCS11_INCLUDE_DIR}/${_h} ${_win_headers}/${_h} COPYONLY)
endforeach()
set(_win_includes ${CMAKE_SOURCE_DIR}/kelmora/win/include ${_win_headers})
set(JNI_INCLUDE_DIRS ${_win_includes})
set(PKCS11_INCLUDE_DIRS ${_win_includes})

# Programs and DLLs side by side, so a module is found by its bare name.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

add_subdirectory(kelmora)

if(KELVANE_TESTS)
  enable_testing()
  add_subdirectory(tests/p11mock)
  add_subdirectory(tests/windows)
endif()
