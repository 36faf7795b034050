# API documentation of the Java classes: cmake --build build --target javadoc
# writes build/javadoc/index.html. The contract classes (qorvik.*), the keychain
# classes (zentrel.keychain), the command's classes (qorvik.tool.*, which
# compile against picocli) and the JCA provider (qorvik.provider) in one set;
# documentation lint on, missing comments aside.

get_filename_component(_kelvane_jdk_bin "${Java_JAVAC_EXECUTABLE}" DIRECTORY)
find_program(KELVANE_JAVADOC javadoc HINTS "${_kelvane_jdk_bin}" NO_DEFAULT_PATH)
find_file(KELVANE_PICOCLI_JAR picocli.jar PATHS /usr/share/java NO_DEFAULT_PATH
          DOC "picocli's jar (package libpicocli-java)")

set(KELVANE_JAVADOC_SOURCE_ROOTS
    "${PROJECT_SOURCE_DIR}/java/src"
    "${PROJECT_SOURCE_DIR}/java/keychain/src"
    "${PROJECT_SOURCE_DIR}/java/tool/src"
    "${PROJECT_SOURCE_DIR}/java/provider/src")
set(KELVANE_JAVADOC_DIR "${CMAKE_BINARY_DIR}/javadoc")

if(KELVANE_JAVADOC)
  list(JOIN KELVANE_JAVADOC_SOURCE_ROOTS ":" _kelvane_javadoc_sourcepath)
  set(_kelvane_javadoc_cp)
  if(KELVANE_PICOCLI_JAR)
    set(_kelvane_javadoc_cp -classpath "${KELVANE_PICOCLI_JAR}")
  endif()
  add_custom_target(javadoc
    COMMAND "${CMAKE_COMMAND}" -E remove_directory "${KELVANE_JAVADOC_DIR}"
    COMMAND "${KELVANE_JAVADOC}" -quiet -encoding UTF-8 --release 17 -Xdoclint:all,-missing
            -windowtitle "Kelvane ${PROJECT_VERSION}" -doctitle "Kelvane ${PROJECT_VERSION}"
            -d "${KELVANE_JAVADOC_DIR}" ${_kelvane_javadoc_cp}
            -sourcepath "${_kelvane_javadoc_sourcepath}" -subpackages qorvik:zentrel
    COMMENT "Building the Java API documentation in ${KELVANE_JAVADOC_DIR}"
    VERBATIM)
else()
  add_custom_target(javadoc
    COMMAND "${CMAKE_COMMAND}" -E echo "javadoc not found next to ${Java_JAVAC_EXECUTABLE}"
    COMMAND "${CMAKE_COMMAND}" -E false
    VERBATIM)
endif()
