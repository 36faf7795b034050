# The names libkelvane exports, spelled as this platform's linker sees them:
# every name of the export list is defined once in a small generated source,
# compiled with the project's compiler, and read back from the object with nm.
# C names come back with the platform's decoration (a leading underscore on
# macOS), C++ names in their mangled form. The macOS link takes the result as
# its exported-symbols list; on Linux a test compares it with the library's
# dynamic symbols, which proves the method on the platform that can run it.
#
#   kelvane_compiled_export_names(<export list> <output file>)
include(${CMAKE_CURRENT_LIST_DIR}/ExportList.cmake)

function(kelvane_compiled_export_names exports_file output)
  kelvane_read_exports(${exports_file} _c_names _cxx_names)
  # A C++ name is its declaration without a result type; a C name becomes a
  # function whatever it is, since only its spelling is wanted.
  set(_c_stubs "")
  foreach(_name IN LISTS _c_names)
    string(APPEND _c_stubs "void ${_name}() {}\n")
  endforeach()
  set(_cxx_stubs "")
  foreach(_name IN LISTS _cxx_names)
    string(APPEND _cxx_stubs "void ${_name} {}\n")
  endforeach()
  list(LENGTH _c_names _c_count)
  list(LENGTH _cxx_names _cxx_count)
  math(EXPR _expected "${_c_count} + ${_cxx_count}")

  set(_dir ${CMAKE_CURRENT_BINARY_DIR}/export_names)
  file(WRITE ${_dir}/names.cpp.in
       "#include <jni.h>\n#include \"pkcs11.h\"\nextern \"C\" {\n${_c_stubs}}\n${_cxx_stubs}")
  configure_file(${_dir}/names.cpp.in ${_dir}/names.cpp COPYONLY)

  set(_includes ${JNI_INCLUDE_DIRS} ${PKCS11_INCLUDE_DIRS})
  list(TRANSFORM _includes PREPEND "-I")
  set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
  try_compile(_built ${_dir}/build ${_dir}/names.cpp
              COMPILE_DEFINITIONS ${_includes}
              CXX_STANDARD 17
              OUTPUT_VARIABLE _log
              COPY_FILE ${_dir}/names.a)
  if(NOT _built)
    message(FATAL_ERROR "The export list's declarations do not compile:\n${_log}")
  endif()
  if(NOT CMAKE_NM)
    message(FATAL_ERROR "nm is needed to read the exported names back")
  endif()
  execute_process(COMMAND ${CMAKE_NM} -g ${_dir}/names.a
                  OUTPUT_VARIABLE _symbols RESULT_VARIABLE _rc ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "${CMAKE_NM} failed on ${_dir}/names.a: ${_err}")
  endif()

  string(REPLACE "\n" ";" _symbols "${_symbols}")
  set(_names "")
  foreach(_symbol IN LISTS _symbols)
    # i386 position-independent code also defines the compiler's hidden
    # program-counter thunks; they are never exported.
    if(_symbol MATCHES " __x86\\.get_pc_thunk\\.")
      continue()
    endif()
    if(_symbol MATCHES "^[0-9a-fA-F]+ [A-TV-Z] (.+)$")
      list(APPEND _names "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  # A universal build lists each architecture's object.
  list(REMOVE_DUPLICATES _names)
  list(SORT _names)
  list(LENGTH _names _found)
  if(NOT _found EQUAL _expected)
    message(FATAL_ERROR "${exports_file} has ${_expected} names, the compiled object defines "
                        "${_found}: ${_names}")
  endif()
  list(JOIN _names "\n" _text)
  file(WRITE ${output}.in "${_text}\n")
  configure_file(${output}.in ${output} COPYONLY)
endfunction()
