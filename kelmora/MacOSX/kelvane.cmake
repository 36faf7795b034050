# The macOS build of the token bridge; on other systems, the check build of its
# macOS-only file. Included from kelmora/CMakeLists.txt once the sources are
# chosen.

include(${PROJECT_SOURCE_DIR}/cmake/CompiledExportNames.cmake)
set(KELVANE_COMPILED_EXPORTS ${CMAKE_CURRENT_BINARY_DIR}/kelvane.exports CACHE INTERNAL "")

if(APPLE)
  # libkelvane.dylib for the host's architecture (or CMAKE_OSX_ARCHITECTURES),
  # exporting exactly the names of exports.txt.
  kelvane_compiled_export_names(${KELVANE_EXPORTS_FILE} ${KELVANE_COMPILED_EXPORTS})
  add_library(kelvane SHARED ${KELVANE_SOURCES})
  target_include_directories(kelvane PUBLIC ${KELVANE_INCLUDE_DIRS})
  set_target_properties(kelvane PROPERTIES
      CXX_VISIBILITY_PRESET hidden
      VISIBILITY_INLINES_HIDDEN ON
      LINK_DEPENDS ${KELVANE_COMPILED_EXPORTS})
  target_link_options(kelvane PRIVATE "LINKER:-exported_symbols_list,${KELVANE_COMPILED_EXPORTS}")
  # The same file under its second name, libkelvane64.dylib.
  add_custom_command(TARGET kelvane POST_BUILD
                     COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_FILE_NAME:kelvane>
                             $<TARGET_FILE_DIR:kelvane>/libkelvane64.dylib
                     VERBATIM)
  return()
endif()

# Compiled (never linked) against declarations of the dyld calls it makes, so
# that the macOS file stays whole where there is no Mac. An OBJECT library, so
# part of every full build.
add_library(kelvane_macos_check OBJECT MacOSX/DyldImages.cpp)
target_include_directories(kelvane_macos_check PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/MacOSX
                           ${JNI_INCLUDE_DIRS} ${PKCS11_INCLUDE_DIRS})
target_compile_definitions(kelvane_macos_check PRIVATE KELVANE_MACOS_DECLARATIONS=1)

# The exported names as this system's linker spells them, by the same method
# the macOS link uses; a test compares them with the library's.
if(KELVANE_TESTS)
  kelvane_compiled_export_names(${KELVANE_EXPORTS_FILE} ${KELVANE_COMPILED_EXPORTS})
endif()
