# Cross-compilation with zig's bundled clang, against glibc 2.17 and with
# libc++ linked statically: whatever this builds runs on any Linux with glibc
# 2.17 or later on the chosen processor (manylinux_2_17), whatever C++ runtime
# the machine has.  Included by a file naming the target:
#
#   set(PARSIMETRICS_ZIG_TARGET aarch64-linux-gnu.2.17)
#   include(${CMAKE_CURRENT_LIST_DIR}/zig.cmake)
#
# zig comes from PyPI (pip install ziglang); ZIG in the environment names
# another binary.  Libraries the build needs for the target (libdivsufsort)
# are found only below CMAKE_FIND_ROOT_PATH, never among the build machine's.
if(NOT PARSIMETRICS_ZIG_TARGET MATCHES "^([a-z0-9_]+)-linux-gnu\\.[0-9.]+$")
  message(FATAL_ERROR "PARSIMETRICS_ZIG_TARGET must look like aarch64-linux-gnu.2.17")
endif()
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${CMAKE_MATCH_1})

if(DEFINED ENV{ZIG})
  set(_zig "$ENV{ZIG}")
else()
  find_program(_python NAMES python3 python REQUIRED)
  execute_process(
    COMMAND "${_python}" -c "import os, ziglang; print(os.path.join(os.path.dirname(ziglang.__file__), 'zig'))"
    OUTPUT_VARIABLE _zig OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _found)
  if(NOT _found EQUAL 0)
    message(FATAL_ERROR "zig not found: pip install ziglang, or set ZIG to a zig binary")
  endif()
endif()

# A compiler given as a list is the program and its fixed arguments.
set(CMAKE_C_COMPILER "${_zig}" cc -target ${PARSIMETRICS_ZIG_TARGET})
set(CMAKE_CXX_COMPILER "${_zig}" c++ -target ${PARSIMETRICS_ZIG_TARGET})
# The archiver cannot be given that way; the archive rules call it directly.
foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "\"${_zig}\" ar qc <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "\"${_zig}\" ar q <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "\"${_zig}\" ranlib <TARGET>")
endforeach()

# zig bundles an unwinder with libc++, but the C library ends threads
# (pthread_exit, which the interpreter calls at exit on threads still
# running) by unwinding them with libgcc_s's.  Both cannot share one stack:
# the module takes libgcc_s's, present on every glibc system, so that such
# an unwind may pass through the module's frames.
if(NOT PARSIMETRICS_LIBGCC_S OR NOT EXISTS "${PARSIMETRICS_LIBGCC_S}")
  message(FATAL_ERROR "PARSIMETRICS_LIBGCC_S must name the target's libgcc_s.so.1 "
                      "(Debian's libgcc-s1 package for the target)")
endif()
# The modules export their initialization function only: the C++ runtime and
# the core inside them stay private, whatever else the process loads.
set(CMAKE_MODULE_LINKER_FLAGS_INIT
    "-Wl,--version-script=${CMAKE_CURRENT_LIST_DIR}/python-module.map \"${PARSIMETRICS_LIBGCC_S}\"")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "\"${PARSIMETRICS_LIBGCC_S}\"")
# g++ links the C library's math library with its C++ runtime; zig does not.
# The modules take their logarithm from it, as every other build does.
# (Whatever pulls in zig's compiler-rt, such as __builtin_cpu_supports,
# brings its weak copies of the math functions, which would win.)
set(CMAKE_CXX_STANDARD_LIBRARIES_INIT "-lm")
# try_compile projects read this file again, without the command line.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PARSIMETRICS_LIBGCC_S)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
