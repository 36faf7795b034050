# The JDK of this machine, for builds configured without JAVA_HOME (Debian
# sets none): JAVA_HOME when it names a JDK, else the JDK whose javac is first
# on PATH. Sets KELVANE_HOST_JDK and, when JAVA_HOME was unset or named no
# JDK, exports it as JAVA_HOME for FindJNI and FindJava.

function(kelvane_find_host_jdk)
  if(DEFINED ENV{JAVA_HOME} AND EXISTS "$ENV{JAVA_HOME}/include/jni.h"
     AND EXISTS "$ENV{JAVA_HOME}/bin/javac")
    set(KELVANE_HOST_JDK "$ENV{JAVA_HOME}" PARENT_SCOPE)
    return()
  endif()
  find_program(KELVANE_HOST_JAVAC javac NO_CMAKE_PATH NO_CMAKE_ENVIRONMENT_PATH
               NO_CMAKE_SYSTEM_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT KELVANE_HOST_JAVAC)
    message(FATAL_ERROR
      "No JDK found: there is no javac on PATH and JAVA_HOME names no JDK. Install one "
      "(on Debian: apt-get install openjdk-17-jdk-headless, or run scripts/install-deps.sh) "
      "or set JAVA_HOME to a JDK 17 or later.")
  endif()
  get_filename_component(_javac "${KELVANE_HOST_JAVAC}" REALPATH)
  get_filename_component(_jdk "${_javac}" DIRECTORY)
  get_filename_component(_jdk "${_jdk}" DIRECTORY)
  if(NOT EXISTS "${_jdk}/include/jni.h")
    message(FATAL_ERROR
      "The javac on PATH (${_javac}) belongs to no full JDK: ${_jdk}/include/jni.h is missing. "
      "Install a JDK (on Debian: openjdk-17-jdk-headless) or set JAVA_HOME to one.")
  endif()
  set(KELVANE_HOST_JDK "${_jdk}" PARENT_SCOPE)
  set(ENV{JAVA_HOME} "${_jdk}")
endfunction()
