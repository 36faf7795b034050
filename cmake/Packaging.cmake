# Install rules and the Debian package.
#
#     cmake --install build --prefix P      # P/bin/kelvane, P/lib/<triplet>/jni, P/share/java, ...
#     cpack --config build/CPackConfig.cmake -B build/package    # kelvane_<version>_<arch>.deb
#
# The bridges go to lib/<multiarch triplet>/jni, which Debian's JDK has on its default
# java.library.path, so System.loadLibrary("kelvane") finds the installed copy under /usr.
# Every jar of java/ except the test-only broken set goes to share/java, jars added later
# included: the list is read when installing, not when configuring.

# Kept in the cache for scripts/test-package.sh.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(KELVANE_INSTALL_JNI_DIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}/jni" CACHE INTERNAL "")
else()
  set(KELVANE_INSTALL_JNI_DIR "lib/jni" CACHE INTERNAL "")
endif()
set(KELVANE_INSTALL_JAR_DIR "share/java")
set(KELVANE_INSTALL_DOC_DIR "share/doc/kelvane")

# The command runs on Debian's picocli (package libpicocli-java) wherever it is installed.
set(KELVANE_INSTALLED_PICOCLI_JAR "/usr/share/java/picocli.jar" CACHE FILEPATH
    "picocli's jar as the installed kelvane command finds it")

install(TARGETS kelvane LIBRARY DESTINATION "${KELVANE_INSTALL_JNI_DIR}")
if(TARGET tarnel)
  install(TARGETS tarnel LIBRARY DESTINATION "${KELVANE_INSTALL_JNI_DIR}")
endif()

install(CODE "
  file(GLOB _kelvane_jars \"${CMAKE_BINARY_DIR}/java/*.jar\")
  list(FILTER _kelvane_jars EXCLUDE REGEX \"-broken\\\\.jar$\")
  if(NOT _kelvane_jars)
    message(FATAL_ERROR \"no jar in ${CMAKE_BINARY_DIR}/java: build before installing\")
  endif()
  file(INSTALL \${_kelvane_jars} DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${KELVANE_INSTALL_JAR_DIR}\")
")

# The installed launcher: the build tree's template (java/tool/kelvane.in) filled in with the
# installed places when installing, so the prefix given then (cpack's /usr included) is the one
# it names; the java on PATH, which the package's JRE dependency provides.
set(_kelvane_installed_launcher "${CMAKE_BINARY_DIR}/package/kelvane")
install(CODE "
  set(KELVANE_LAUNCHER_JAVA java)
  set(KELVANE_LAUNCHER_LIBRARY \"\${CMAKE_INSTALL_PREFIX}/${KELVANE_INSTALL_JNI_DIR}/libkelvane.so\")
  set(_jars \"\${CMAKE_INSTALL_PREFIX}/${KELVANE_INSTALL_JAR_DIR}\")
  set(KELVANE_LAUNCHER_CLASSPATH
      \"\${_jars}/kelvane-tool.jar:\${_jars}/kelvane.jar:${KELVANE_INSTALLED_PICOCLI_JAR}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/java/tool/kelvane.in\" \"${_kelvane_installed_launcher}\" @ONLY)
  file(INSTALL \"${_kelvane_installed_launcher}\" DESTINATION \"\${CMAKE_INSTALL_PREFIX}/bin\"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                        WORLD_READ WORLD_EXECUTE)
")
install(FILES "${PROJECT_SOURCE_DIR}/README.md" DESTINATION "${KELVANE_INSTALL_DOC_DIR}")

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "kelvane")
set(CPACK_PACKAGE_VENDOR "Kelvane")
set(CPACK_PACKAGE_CONTACT "Kelvane maintainers <kelvane@localhost>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "PKCS#11 token bridge for Java, its JCA provider and the kelvane command")
set(CPACK_PACKAGE_DESCRIPTION
    "libkelvane opens any PKCS#11 v2.x module at run time and exposes it to the Java classes "
    "of kelvane.jar through JNI. The kelvane command lists slots, tokens, mechanisms and "
    "objects, makes and imports keys, signs, verifies, digests, encrypts and decrypts files. "
    "kelvane-provider.jar is a JCA provider (qorvik.provider.KelvaneProvider) on the same "
    "bridge, for keytool, jarsigner and any program using KeyStore, Signature or Cipher.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "openjdk-17-jre-headless | java17-runtime-headless, libpicocli-java")
# The default token of the command is a SoftHSM2 token of the user's own.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "softhsm2")
# libc, libstdc++ and libcrypto as the built libraries need them (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
