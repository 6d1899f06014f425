# Hardening flags that distributions expect of a packaged program: fortified
# libc calls, stack protector, read-only relocations bound at start-up, and a
# position-independent executable.  Every unit gets the compile flags, because
# the libraries' code ends up inside the executable.
#
# Left out under the sanitizers and libFuzzer, which bring their own checks
# and interceptors.  _FORTIFY_SOURCE only works with optimisation, so a Debug
# build goes without it; it is undefined first because some compilers define
# their own level and a second definition would be a warning.

option(ZPRESS_HARDENING "Build with fortified libc calls, stack protector, RELRO/BIND_NOW and PIE" ON)

if(ZPRESS_HARDENING AND NOT ZPRESS_SANITIZE AND NOT ZPRESS_BUILD_FUZZ)
  add_compile_options(
    -fstack-protector-strong
    "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
  add_link_options("LINKER:-z,relro" "LINKER:-z,now")

  # With POSITION_INDEPENDENT_CODE set, executables are compiled with -fPIE
  # and linked with -pie (policy CMP0083, once support is checked).
  include(CheckPIESupported)
  check_pie_supported(LANGUAGES CXX)
endif()

# Call after the target exists.
function(zpress_harden_executable target)
  if(ZPRESS_HARDENING AND NOT ZPRESS_SANITIZE AND NOT ZPRESS_BUILD_FUZZ)
    set_property(TARGET ${target} PROPERTY POSITION_INDEPENDENT_CODE ON)
  endif()
endfunction()
