# Java-side checks, included from tests/CMakeLists.txt after enable_testing().
# The native methods of qorvik.nat must resolve to exactly the names in exports.txt, and the
# built bridge must export exactly those names.
if(KELVANE_TESTS)
  set(kelvane_natives_check sh "${CMAKE_CURRENT_LIST_DIR}/check-natives.sh"
      --javac "${Java_JAVAC_EXECUTABLE}")
  if(TARGET kelvane)
    list(APPEND kelvane_natives_check --library "$<TARGET_FILE:kelvane>")
  endif()
  add_test(NAME java_natives_match_exports COMMAND ${kelvane_natives_check})
endif()
