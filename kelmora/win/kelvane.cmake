# kelvane.dll: only the 80 native methods leave it, from a .def file made
# from the Java_ names of exports.txt (the ELF version script does not apply).
# kelvane_static holds the same objects for the Windows test executable.

set(KELVANE_DEF_FILE ${CMAKE_CURRENT_BINARY_DIR}/kelvane.def)
set(_def "LIBRARY kelvane.dll\nEXPORTS\n")
set(_native_methods ${KELVANE_C_EXPORTS})
list(FILTER _native_methods INCLUDE REGEX "^Java_")
foreach(_name IN LISTS _native_methods)
  string(APPEND _def "    ${_name}\n")
endforeach()
file(WRITE ${KELVANE_DEF_FILE}.in "${_def}")
configure_file(${KELVANE_DEF_FILE}.in ${KELVANE_DEF_FILE} COPYONLY)

add_library(kelvane_objects OBJECT ${KELVANE_SOURCES})
target_include_directories(kelvane_objects PUBLIC ${KELVANE_INCLUDE_DIRS})

add_library(kelvane SHARED $<TARGET_OBJECTS:kelvane_objects> ${KELVANE_DEF_FILE})
set_target_properties(kelvane PROPERTIES PREFIX "" LINK_DEPENDS ${KELVANE_DEF_FILE})
# Nothing is exported unless the .def file names it: no automatic export of
# every symbol, none of the C++ runtime's.
target_link_options(kelvane PRIVATE "LINKER:--exclude-all-symbols")

add_library(kelvane_static STATIC $<TARGET_OBJECTS:kelvane_objects>)
target_include_directories(kelvane_static INTERFACE ${KELVANE_INCLUDE_DIRS})

# The signer-PIN dialog's picture (bitmap 102), drawn at build time by
# scripts/make-pin-bitmap.sh where the resource script looks for it.
set(KELVANE_PIN_IMAGE_DIR ${CMAKE_CURRENT_BINARY_DIR}/pin-image)
set(KELVANE_PIN_IMAGE ${KELVANE_PIN_IMAGE_DIR}/pin-image.bmp)
add_custom_command(OUTPUT ${KELVANE_PIN_IMAGE}
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${KELVANE_PIN_IMAGE_DIR}
                   COMMAND ${PROJECT_SOURCE_DIR}/scripts/make-pin-bitmap.sh ${KELVANE_PIN_IMAGE}
                   DEPENDS ${PROJECT_SOURCE_DIR}/scripts/make-pin-bitmap.sh
                   COMMENT "Drawing the signer-PIN dialog's picture" VERBATIM)
target_sources(kelvane_objects PRIVATE ${KELVANE_PIN_IMAGE})
set_source_files_properties(win/kelvane.rc PROPERTIES OBJECT_DEPENDS ${KELVANE_PIN_IMAGE})
target_include_directories(kelvane_objects PRIVATE
                           $<$<COMPILE_LANGUAGE:RC>:${KELVANE_PIN_IMAGE_DIR}>)
