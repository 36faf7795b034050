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

  # The same for the keychain bridge: the zentrel.keychain natives against keychain/exports.txt
  # and libtarnel's JNI exports; and the check must see a list that is not theirs.
  set(tarnel_natives_check sh "${CMAKE_CURRENT_LIST_DIR}/check-natives.sh"
      --javac "${Java_JAVAC_EXECUTABLE}" --sources "${CMAKE_CURRENT_LIST_DIR}/keychain/src")
  set(tarnel_natives_library)
  if(TARGET tarnel)
    set(tarnel_natives_library --library "$<TARGET_FILE:tarnel>")
  endif()
  add_test(NAME tarnel_natives_match_exports
           COMMAND ${tarnel_natives_check} --exports "${PROJECT_SOURCE_DIR}/keychain/exports.txt"
                   ${tarnel_natives_library})
  add_test(NAME tarnel_natives_check_sees_a_foreign_list
           COMMAND ${tarnel_natives_check} --exports "${CMAKE_CURRENT_LIST_DIR}/exports.txt")
  set_tests_properties(tarnel_natives_check_sees_a_foreign_list PROPERTIES WILL_FAIL TRUE)
endif()
