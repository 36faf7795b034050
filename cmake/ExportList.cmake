# Reads a list of exports (kelmora/exports.txt): one name a line, blank lines
# and "#" comments skipped; a name with a parameter list is a C++ function
# (demangled), any other has C linkage.
#
#   kelvane_read_exports(<file> <C names variable> <C++ names variable>)
function(kelvane_read_exports file c_var cxx_var)
  file(STRINGS ${file} _lines)
  set(_c "")
  set(_cxx "")
  foreach(_line IN LISTS _lines)
    string(STRIP "${_line}" _line)
    if(_line STREQUAL "" OR _line MATCHES "^#")
      continue()
    endif()
    if(_line MATCHES "\\(")
      list(APPEND _cxx "${_line}")
    else()
      list(APPEND _c "${_line}")
    endif()
  endforeach()
  set(${c_var} "${_c}" PARENT_SCOPE)
  set(${cxx_var} "${_cxx}" PARENT_SCOPE)
endfunction()
