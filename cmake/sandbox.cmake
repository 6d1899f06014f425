# The filters' sandbox (driver/sandbox.h): a seccomp program made at build
# time with libseccomp (Debian: libseccomp-dev), found with pkg-config.  On
# by default on Linux where libseccomp is found; ZPRESS_SANDBOX=OFF builds
# without it (other platforms), and the filters then run with the user's
# full rights.
#
# Always off in the sanitizer, fuzzing and coverage builds: their runtimes
# open files and map memory when the process ends (the sanitizers' reports,
# leak check and symbolizer, gcov's count files), which the sandbox forbids.
# Call after coverage.cmake, which defines ZPRESS_COVERAGE.
#
# Sets ZPRESS_SANDBOX_BUILT to whether the executable confines its filters.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(SECCOMP QUIET IMPORTED_TARGET libseccomp)
endif()
# The program is made by a tool that the build runs (driver/CMakeLists.txt),
# so a cross build goes without it unless asked.
set(zpress_sandbox_default OFF)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND SECCOMP_FOUND AND NOT CMAKE_CROSSCOMPILING)
  set(zpress_sandbox_default ON)
endif()
option(ZPRESS_SANDBOX "Confine the filters with seccomp (needs libseccomp)" ${zpress_sandbox_default})

set(ZPRESS_SANDBOX_BUILT OFF)
if(ZPRESS_SANDBOX)
  if(ZPRESS_SANITIZE OR ZPRESS_COVERAGE OR ZPRESS_BUILD_FUZZ)
    message(STATUS "Filter sandbox: off in sanitizer, fuzzing and coverage builds")
  elseif(NOT SECCOMP_FOUND)
    message(FATAL_ERROR "ZPRESS_SANDBOX needs libseccomp (Debian: libseccomp-dev) "
                        "and pkg-config; -DZPRESS_SANDBOX=OFF builds without it")
  else()
    set(ZPRESS_SANDBOX_BUILT ON)
  endif()
endif()
