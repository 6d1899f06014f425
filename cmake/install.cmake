# Installation: the zpress executable and its manual page, the two libraries
# with their public headers, a CMake package (find_package(zpress)),
# pkg-config files, and the Debian packages that CPack builds from all that.
#
# Three install components, which become three Debian packages:
#   runtime     -> zpress        bin/zpress, bin/zpress-read, man1/zpress.1,
#                                man1/zpress-read.1
#   development -> libzpress-dev headers, libraries, CMake and pkg-config files,
#                                doc/api.md and the examples
#   python      -> python3-zpress the Python package zpress and doc/python.md
#                                (when the module is built)
# A plain `cmake --install` installs them all.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
find_package(Python3 COMPONENTS Interpreter QUIET)

set(ZPRESS_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/zpress"
    CACHE STRING "Where the CMake package files go, relative to the prefix")
set(ZPRESS_INSTALL_PKGCONFIGDIR "${CMAKE_INSTALL_LIBDIR}/pkgconfig"
    CACHE STRING "Where the pkg-config files go, relative to the prefix")
# Named after the package that carries them, as Debian wants.
set(ZPRESS_INSTALL_DEVDOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/libzpress-dev"
    CACHE STRING "Where the library reference and the examples go, relative to the prefix")

# Shared libraries installed anywhere must run without LD_LIBRARY_PATH: each
# library finds its siblings beside itself, the program finds them from its
# own directory, and a consumer linked with the pkg-config flags finds them
# in the library directory.  A distribution that installs into the system's
# library directory can turn this off.
get_target_property(ZPRESS_GZSTREAM_TYPE gzstream TYPE)
if(ZPRESS_GZSTREAM_TYPE STREQUAL "SHARED_LIBRARY")
  set(ZPRESS_SHARED ON)
else()
  set(ZPRESS_SHARED OFF)
endif()
option(ZPRESS_INSTALL_RUNPATH
  "Shared builds: installed libraries and program find the libraries by a RUNPATH" ON)
if(ZPRESS_SHARED AND ZPRESS_INSTALL_RUNPATH)
  set_target_properties(gzstream lzw zpress_cxx PROPERTIES INSTALL_RPATH "$ORIGIN")
  file(RELATIVE_PATH ZPRESS_BIN_TO_LIB
       "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${CMAKE_INSTALL_LIBDIR}")
  set_target_properties(zpress zpress-read PROPERTIES INSTALL_RPATH "$ORIGIN/${ZPRESS_BIN_TO_LIB}")
  set(ZPRESS_PC_RUNPATH " -Wl,-rpath,\${libdir}")
else()
  set(ZPRESS_PC_RUNPATH "")
endif()

# ---------------------------------------------------------------------------
# Libraries

install(TARGETS gzstream lzw zpress_cxx
  EXPORT zpressTargets
  ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT development
  LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}" COMPONENT development
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT development)

install(FILES
    "${PROJECT_SOURCE_DIR}/gzstream/include/zpress/gzio.h"
    "${PROJECT_SOURCE_DIR}/lzw/include/zpress/zopen.h"
    "${PROJECT_SOURCE_DIR}/cxx/include/zpress/zpress.hpp"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}/zpress"
  COMPONENT development)

# ---------------------------------------------------------------------------
# CMake package: find_package(zpress [COMPONENTS gzstream lzw cxx])

install(EXPORT zpressTargets
  NAMESPACE zpress::
  DESTINATION "${ZPRESS_INSTALL_CMAKEDIR}"
  COMPONENT development)

configure_package_config_file(
  "${PROJECT_SOURCE_DIR}/cmake/zpressConfig.cmake.in"
  "${PROJECT_BINARY_DIR}/zpressConfig.cmake"
  INSTALL_DESTINATION "${ZPRESS_INSTALL_CMAKEDIR}")
write_basic_package_version_file(
  "${PROJECT_BINARY_DIR}/zpressConfigVersion.cmake"
  VERSION "${PROJECT_VERSION}"
  COMPATIBILITY SameMajorVersion)
install(FILES
    "${PROJECT_BINARY_DIR}/zpressConfig.cmake"
    "${PROJECT_BINARY_DIR}/zpressConfigVersion.cmake"
  DESTINATION "${ZPRESS_INSTALL_CMAKEDIR}"
  COMPONENT development)

# ---------------------------------------------------------------------------
# pkg-config: zpress-gzstream.pc, zpress-lzw.pc and zpress-cxx.pc
#
# The prefix is computed from the .pc file's own place, so that a tree installed
# with `cmake --install --prefix DIR` (or copied elsewhere) still works.
file(RELATIVE_PATH ZPRESS_PC_TO_PREFIX
     "/prefix/${ZPRESS_INSTALL_PKGCONFIGDIR}" "/prefix")
string(REGEX REPLACE "/$" "" ZPRESS_PC_TO_PREFIX "${ZPRESS_PC_TO_PREFIX}")

# With a static gzstream every consumer links zlib itself; a shared one only
# needs it for static linking.
if(ZPRESS_SHARED)
  set(ZPRESS_PC_ZLIB_REQUIRES "Requires.private: zlib")
else()
  set(ZPRESS_PC_ZLIB_REQUIRES "Requires: zlib")
endif()
# The C++ interface is built on both libraries.  Static, every consumer links
# them; shared, libzpress-cxx.so needs them, and a consumer's link (which
# checks every symbol of the libraries it names) must find them too, and
# zpress.hpp hands out gzstream handles that a consumer may use directly.
set(ZPRESS_PC_CXX_REQUIRES "Requires: zpress-gzstream zpress-lzw")

foreach(pc IN ITEMS zpress-gzstream zpress-lzw zpress-cxx)
  configure_file("${PROJECT_SOURCE_DIR}/cmake/${pc}.pc.in"
                 "${PROJECT_BINARY_DIR}/${pc}.pc" @ONLY)
  install(FILES "${PROJECT_BINARY_DIR}/${pc}.pc"
    DESTINATION "${ZPRESS_INSTALL_PKGCONFIGDIR}"
    COMPONENT development)
endforeach()

# ---------------------------------------------------------------------------
# The reference and the examples, for the development package

install(FILES "${PROJECT_SOURCE_DIR}/doc/api.md" "${PROJECT_SOURCE_DIR}/doc/handle-api.md"
  DESTINATION "${ZPRESS_INSTALL_DEVDOCDIR}"
  COMPONENT development)
install(DIRECTORY "${PROJECT_SOURCE_DIR}/examples/"
  DESTINATION "${ZPRESS_INSTALL_DEVDOCDIR}/examples"
  COMPONENT development
  FILES_MATCHING PATTERN "*.cpp" PATTERN "*.c" PATTERN "*.h" PATTERN "CMakeLists.txt")

# ---------------------------------------------------------------------------
# The program and its manual page

install(TARGETS zpress zpress-read
  RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}" COMPONENT runtime)
foreach(page IN ITEMS zpress.1 zpress-read.1)
  configure_file("${PROJECT_SOURCE_DIR}/doc/${page}" "${PROJECT_BINARY_DIR}/doc/${page}" @ONLY)
  install(FILES "${PROJECT_BINARY_DIR}/doc/${page}"
    DESTINATION "${CMAKE_INSTALL_MANDIR}/man1"
    COMPONENT runtime)
endforeach()

# ---------------------------------------------------------------------------
# The Python package zpress (component python), where Debian's python3
# imports it: /usr/lib/python3/dist-packages for the prefix /usr (the Debian
# package's place), lib/python3.X/dist-packages under any other prefix
# (/usr/local/lib/python3.11/dist-packages is on Debian's path).  Chosen when
# installing, as the packages are made from a build configured for another
# prefix; ZPRESS_INSTALL_PYTHONDIR fixes it instead.

if(TARGET zpress_python)
  set(ZPRESS_INSTALL_PYTHONDIR "" CACHE STRING
      "Where the Python package zpress goes, relative to the prefix (empty: Debian's dist-packages)")
  if(ZPRESS_INSTALL_PYTHONDIR)
    set(zpress_python_dir "${ZPRESS_INSTALL_PYTHONDIR}")
  else()
    if(EXISTS /etc/debian_version)
      set(zpress_site dist-packages)
    else()
      set(zpress_site site-packages)
    endif()
    set(zpress_versioned "lib/python${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}/${zpress_site}")
    install(CODE "
      if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\" AND \"${zpress_site}\" STREQUAL \"dist-packages\")
        set(zpress_python_dir lib/python3/dist-packages)
      else()
        set(zpress_python_dir ${zpress_versioned})
      endif()" COMPONENT python)
    # Expanded by the install script, after the rule above.
    set(zpress_python_dir "\${zpress_python_dir}")
  endif()
  if(ZPRESS_SHARED AND ZPRESS_INSTALL_RUNPATH)
    # The module's directory is chosen at install time: the libraries are
    # found by their absolute directory.
    set_target_properties(zpress_python PROPERTIES INSTALL_RPATH "${CMAKE_INSTALL_FULL_LIBDIR}")
  endif()
  install(TARGETS zpress_python
    LIBRARY DESTINATION "${zpress_python_dir}/zpress" COMPONENT python)
  install(FILES
      "${PROJECT_SOURCE_DIR}/python/zpress/__init__.py"
      "${PROJECT_SOURCE_DIR}/python/zpress/__init__.pyi"
      "${PROJECT_SOURCE_DIR}/python/zpress/py.typed"
    DESTINATION "${zpress_python_dir}/zpress" COMPONENT python)
  install(FILES "${PROJECT_SOURCE_DIR}/doc/python.md"
    DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/python3-zpress" COMPONENT python)
endif()

# ---------------------------------------------------------------------------
# Debian packages: `cpack -G DEB` in the build directory gives
# zpress_<version>-1_<arch>.deb and libzpress-dev_<version>-1_<arch>.deb.
# (Lines of the descriptions below must not begin with a dot: dpkg reads
# such a line as a control statement.)

set(ZPRESS_PACKAGE_MAINTAINER "zpress maintainers <maintainers@zpress.dev>"
    CACHE STRING "Maintainer field of the Debian packages")

# zlib1g carries an epoch in Debian ("1:1.2.13.dfsg-1"); a bound without it
# would be met by every version.  Take the epoch from the installed package
# when dpkg can tell, else the one Debian has always used.
if(DEFINED ZLIB_VERSION AND NOT ZLIB_VERSION STREQUAL "")
  set(ZPRESS_ZLIB_BUILT_AGAINST "${ZLIB_VERSION}")
else()
  set(ZPRESS_ZLIB_BUILT_AGAINST "${ZLIB_VERSION_STRING}")
endif()
set(ZPRESS_ZLIB_EPOCH "1:")
find_program(ZPRESS_DPKG_QUERY dpkg-query)
mark_as_advanced(ZPRESS_DPKG_QUERY)
if(ZPRESS_DPKG_QUERY)
  execute_process(
    COMMAND "${ZPRESS_DPKG_QUERY}" -W -f=\${Version} zlib1g
    OUTPUT_VARIABLE zlib1g_installed
    ERROR_QUIET
    RESULT_VARIABLE zlib1g_query_failed)
  if(NOT zlib1g_query_failed AND zlib1g_installed MATCHES "^([0-9]+:)")
    set(ZPRESS_ZLIB_EPOCH "${CMAKE_MATCH_1}")
  elseif(NOT zlib1g_query_failed AND NOT zlib1g_installed STREQUAL "")
    set(ZPRESS_ZLIB_EPOCH "")
  endif()
endif()
set(ZPRESS_DEB_ZLIB_DEPENDS "zlib1g (>= ${ZPRESS_ZLIB_EPOCH}${ZPRESS_ZLIB_BUILT_AGAINST})")

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "zpress")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "zpress")
set(CPACK_PACKAGE_CONTACT "${ZPRESS_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development)
if(TARGET zpress_python)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZPRESS_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PROJECT_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_RELEASE "1")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME "zpress")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION "utils")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
"gzip compression utility that also reads .Z streams
zpress compresses files into standard gzip files (RFC 1952 members around
zlib's deflate data) and decompresses any gzip stream, several concatenated
members included.  As a filter on standard input it also decodes the
classic .Z (LZW) format of the Unix compress utility, with codes of 9 to 16
bits.

It refuses to replace existing files unless told to, creates its outputs
never more accessible than their inputs, and removes a half-written output
when it is interrupted.

zpress-read writes part of a large .gz file, from a byte offset or a line
number, through an index file kept beside it.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME "libzpress-dev")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION "libdevel")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "zlib1g-dev (>= ${ZPRESS_ZLIB_EPOCH}${ZPRESS_ZLIB_BUILT_AGAINST})")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
"C++ libraries of zpress: gzip streams and the .Z codec
The gzip stream layer (namespace gzstream, header zpress/gzio.h) reads and
writes gzip streams through a handle: gzopen, gzread, gzwrite, gzprintf,
gzgets, gzseek and more, on top of zlib's raw deflate engine.  The LZW codec
(namespace lzw, header zpress/zopen.h) reads and writes the .Z format.  The
C++ interface (namespace zpress, header zpress/zpress.hpp) adds owning gzip
files and iostreams for gzip and .Z data, and may be used beside zlib.h.

This package holds the static libraries, the headers, a CMake package
(find_package(zpress), targets zpress::gzstream, zpress::lzw and zpress::cxx)
and pkg-config files (zpress-gzstream, zpress-lzw, zpress-cxx).")

# The extension is built for one Python release (its ABI tag names it).
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME "python3-zpress")
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION "python")
math(EXPR zpress_python_next "${Python3_VERSION_MINOR} + 1")
set(ZPRESS_DEB_PYTHON_DEPENDS
    "python3 (>= ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR}~), python3 (<< ${Python3_VERSION_MAJOR}.${zpress_python_next})")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION
"Python module for gzip files with trusted random access
zpress for Python reads and writes gzip files as binary file objects
(zpress.open, zpress.GzipFile, a drop-in for the standard library's gzip
module), and reads them at random: an index built once makes a seek
anywhere in a large file cost a small decode, can be saved to a file or to
bytes, and is checked against the data before it is trusted.  Lines can be
sought by number.  Whole buffers are compressed and decompressed with
zpress.compress and zpress.decompress, .Z data with zpress.lzw_compress and
zpress.lzw_decompress.  The engine works without the global interpreter
lock, so threads reading different files use different cores.")

# CPack needs file(1) besides dpkg-shlibdeps to compute library dependencies.
find_program(ZPRESS_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(ZPRESS_FILE_UTILITY file)
mark_as_advanced(ZPRESS_DPKG_SHLIBDEPS ZPRESS_FILE_UTILITY)
if(ZPRESS_DPKG_SHLIBDEPS AND ZPRESS_FILE_UTILITY)
  # dpkg-shlibdeps finds libc6 (and libstdc++6/libgcc-s1 when they are linked
  # dynamically) and zlib1g.  zlib's symbols file would only ask for the
  # oldest release with the symbols used; a shlibs.local beside the staged
  # files (written below) raises that to the release built against.
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "${ZPRESS_DEB_PYTHON_DEPENDS}")
  set(CPACK_ZPRESS_SHLIBS_LOCAL "libz 1 ${ZPRESS_DEB_ZLIB_DEPENDS}")
else()
  set(ZPRESS_DEB_RUNTIME_DEPENDS "libc6, ${ZPRESS_DEB_ZLIB_DEPENDS}")
  if(NOT ZPRESS_STATIC_CXX_RUNTIME OR ZPRESS_SANITIZE)
    string(APPEND ZPRESS_DEB_RUNTIME_DEPENDS ", libstdc++6, libgcc-s1")
  endif()
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${ZPRESS_DEB_RUNTIME_DEPENDS}")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "${ZPRESS_DEB_PYTHON_DEPENDS}, libc6, ${ZPRESS_DEB_ZLIB_DEPENDS}, libstdc++6, libgcc-s1")
  set(CPACK_ZPRESS_SHLIBS_LOCAL "")
endif()

# Runs in the staging tree before the packages are assembled: compresses the
# manual page, adds each package's copyright file and changelogs (made from
# LICENSE and CHANGELOG.md by cmake/debian_docs.py) and the shlibs.local that
# dpkg-shlibdeps reads.
set(CPACK_ZPRESS_PYTHON "${Python3_EXECUTABLE}")
set(CPACK_ZPRESS_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
set(CPACK_PRE_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/prepare-package-staging.cmake")

include(CPack)
