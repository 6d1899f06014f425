# What every zpress library gets, so that it fits any consumer:
#  - position-independent code, so that the static libraries link into a
#    shared object;
#  - a SOVERSION when built shared (BUILD_SHARED_LIBS=ON), and only the public
#    interface exported: hidden visibility where the headers mark the API,
#    and a version script that keeps everything else local;
#  - the C++ standard their public headers need, carried to consumers.

# The public API of each library as the linker sees it (demangled patterns).
set(ZPRESS_EXPORTS_gzstream [[gzstream::gz*; gzstream::engine_version*;]])
set(ZPRESS_EXPORTS_lzw [[lzw::z_open*; lzw::zread*; lzw::zwrite*; lzw::z_close*;]])
# The C++ interface hides what zpress.hpp does not mark; its script keeps the
# zpress names (functions, and the type information and virtual tables that
# exceptions and dynamic_cast need across the library's edge) and drops the
# standard-library template copies.  Mangled patterns: ld matches quoted
# demangled names literally, without wildcards.
set(ZPRESS_EXPORTS_zpress_cxx [[zpress::*;]])
set(ZPRESS_EXPORTS_RAW_zpress_cxx [[_ZTIN6zpress*; _ZTSN6zpress*; _ZTVN6zpress*; _ZTTN6zpress*; _ZThn*_N6zpress*; _ZTv*_N6zpress*;]])

# gzio.h uses inline variables (C++17); zopen.h needs nothing newer than
# C++11; zpress.hpp uses std::span (C++20).
set(ZPRESS_STANDARD_gzstream cxx_std_17)
set(ZPRESS_STANDARD_lzw cxx_std_11)
set(ZPRESS_STANDARD_zpress_cxx cxx_std_20)

foreach(lib IN ITEMS gzstream lzw zpress_cxx)
  set_target_properties(${lib} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR})
  target_compile_features(${lib} PUBLIC ${ZPRESS_STANDARD_${lib}})
  get_target_property(lib_type ${lib} TYPE)
  if(lib_type STREQUAL "SHARED_LIBRARY")
    set(map "${PROJECT_BINARY_DIR}/exports/${lib}.map")
    file(WRITE "${map}"
      "{\n  global:\n    extern \"C++\" {\n      ${ZPRESS_EXPORTS_${lib}}\n    };\n    ${ZPRESS_EXPORTS_RAW_${lib}}\n  local: *;\n};\n")
    target_link_options(${lib} PRIVATE "LINKER:--version-script=${map}")
    set_property(TARGET ${lib} APPEND PROPERTY LINK_DEPENDS "${map}")
  endif()
endforeach()

# zpress.hpp marks its API, so the C++ interface can hide everything else at
# compile time as well.
set_target_properties(zpress_cxx PROPERTIES
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON)
