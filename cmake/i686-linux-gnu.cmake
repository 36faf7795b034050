# Linux i386 with Debian's cross compiler (g++-i686-linux-gnu), the i386 JDK and
# GoogleTest installed through multiarch (openjdk-17-jdk-headless:i386,
# libgtest-dev:i386). CK_ULONG is 32 bits there.
#
#   cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-gnu.cmake \
#         -DKELVANE_KEYCHAIN=OFF -DKELVANE_SOFTHSM_TESTS=OFF -DKELVANE_FUZZ_REPLAY=OFF \
#         -DKELVANE_BENCH=OFF
#
# (scripts/test-i386.sh does this). The Java classes are built by the host's
# javac: class files do not depend on the architecture. Programs the build runs
# (the tests, GoogleTest's discovery) go through qemu-i386 when this machine
# cannot execute i386 programs itself.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

# The target's libraries live beside the host's in the multiarch directories;
# no separate root. Programs (javac, jar, nm) are the host's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
list(APPEND CMAKE_SYSTEM_LIBRARY_PATH /usr/lib/i386-linux-gnu /lib/i386-linux-gnu)
list(APPEND CMAKE_SYSTEM_PREFIX_PATH /usr/lib/i386-linux-gnu)
set(CMAKE_LIBRARY_PATH /usr/lib/i386-linux-gnu)
set(GTest_DIR /usr/lib/i386-linux-gnu/cmake/GTest CACHE PATH "GoogleTest for i386")

# The i386 JDK for the headers and the libjvm the native suites embed. The
# server VM, as the java launcher picks by default (lib/client holds the other).
set(KELVANE_I386_JDK /usr/lib/jvm/java-17-openjdk-i386 CACHE PATH "The i386 JDK")
set(JAVA_INCLUDE_PATH ${KELVANE_I386_JDK}/include CACHE PATH "")
set(JAVA_INCLUDE_PATH2 ${KELVANE_I386_JDK}/include/linux CACHE PATH "")
set(JAVA_AWT_INCLUDE_PATH ${KELVANE_I386_JDK}/include CACHE PATH "")
set(JAVA_JVM_LIBRARY ${KELVANE_I386_JDK}/lib/server/libjvm.so CACHE FILEPATH "")
set(JAVA_AWT_LIBRARY ${KELVANE_I386_JDK}/lib/libjawt.so CACHE FILEPATH "")
# libjvm's own dependencies, for the linker only. Debian's i386 libjvm leaves
# one of its own symbols (_SafeFetch32_impl) undefined in its dynamic table; it
# is never bound through it, so programs linking libjvm accept that.
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT
       " -Wl,-rpath-link,${KELVANE_I386_JDK}/lib -Wl,--allow-shlib-undefined")

# Run i386 programs directly where the kernel can, else under qemu with the
# i386 libraries of this system as their root. The probe is made once per
# build directory, not again in the try_compile projects that read this file.
if(NOT DEFINED CACHE{KELVANE_I386_EMULATOR} AND NOT CMAKE_PROJECT_NAME STREQUAL "CMAKE_TRY_COMPILE")
  set(_probe_dir ${CMAKE_BINARY_DIR}/CMakeFiles/i386-probe)
  file(MAKE_DIRECTORY ${_probe_dir})
  file(WRITE ${_probe_dir}/probe.c "int main(void) { return sizeof(void*) == 4 ? 0 : 1; }\n")
  execute_process(COMMAND ${CMAKE_C_COMPILER} ${_probe_dir}/probe.c -o ${_probe_dir}/probe
                  RESULT_VARIABLE _probe_built OUTPUT_QUIET ERROR_QUIET)
  if(NOT _probe_built EQUAL 0)
    message(FATAL_ERROR "${CMAKE_C_COMPILER} cannot build an i386 program: install g++-i686-linux-gnu")
  endif()
  execute_process(COMMAND ${_probe_dir}/probe RESULT_VARIABLE _probe_ran OUTPUT_QUIET ERROR_QUIET)
  if(_probe_ran EQUAL 0)
    set(_emulator "")
  else()
    find_program(KELVANE_QEMU_I386 qemu-i386)
    if(NOT KELVANE_QEMU_I386)
      message(FATAL_ERROR "i386 programs do not run here and qemu-i386 is missing: install qemu-user")
    endif()
    set(_emulator "${KELVANE_QEMU_I386};-L;/")
  endif()
  set(KELVANE_I386_EMULATOR "${_emulator}" CACHE STRING
      "How i386 programs are run here (empty: directly)")
endif()
if(KELVANE_I386_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELVANE_I386_EMULATOR})
endif()
