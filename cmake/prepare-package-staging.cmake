# CPack runs this in its staging tree after the install and before each
# Debian package is assembled (CPACK_PRE_BUILD_SCRIPTS; it sees the CPACK_*
# variables of install.cmake).  For every package it
#  - compresses the manual pages at the highest level, without a time stamp,
#  - writes usr/share/doc/<package>/copyright, changelog.Debian.gz and
#    changelog.gz (and, for a first release, a lintian override),
#  - writes debian/shlibs.local for dpkg-shlibdeps, which CPack runs in the
#    component's staging directory and removes afterwards.

# The packaging tools are often installed only when they are first needed,
# after the build was configured: look for Python again.
if(NOT CPACK_ZPRESS_PYTHON)
  find_program(zpress_python NAMES python3)
  if(zpress_python)
    set(CPACK_ZPRESS_PYTHON "${zpress_python}")
  endif()
endif()
if(NOT CPACK_ZPRESS_PYTHON)
  message(FATAL_ERROR "Building the packages needs python3: install it")
endif()

file(GLOB component_dirs LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(dir IN ITEMS "${CPACK_TEMPORARY_DIRECTORY}" ${component_dirs})
  set(prefix "${dir}${CPACK_PACKAGING_INSTALL_PREFIX}")
  if(NOT IS_DIRECTORY "${prefix}")
    continue()
  endif()

  # The package this tree becomes: the component's package name, else the
  # project's (a build without components).
  get_filename_component(component "${dir}" NAME)
  string(TOUPPER "${component}" component_upper)
  if(dir STREQUAL CPACK_TEMPORARY_DIRECTORY)
    set(package "${CPACK_DEBIAN_PACKAGE_NAME}")
    if(NOT package)
      string(TOLOWER "${CPACK_PACKAGE_NAME}" package)
    endif()
  elseif(CPACK_DEBIAN_${component_upper}_PACKAGE_NAME)
    set(package "${CPACK_DEBIAN_${component_upper}_PACKAGE_NAME}")
  else()
    string(TOLOWER "${CPACK_PACKAGE_NAME}-${component}" package)
  endif()

  execute_process(
    COMMAND "${CPACK_ZPRESS_PYTHON}" "${CPACK_ZPRESS_SOURCE_DIR}/cmake/debian_docs.py"
      man "${dir}"
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "compressing the manual pages of ${package} failed")
  endif()

  execute_process(
    COMMAND "${CPACK_ZPRESS_PYTHON}" "${CPACK_ZPRESS_SOURCE_DIR}/cmake/debian_docs.py"
      docs "${prefix}"
      --source-dir "${CPACK_ZPRESS_SOURCE_DIR}"
      --package "${package}"
      --version "${CPACK_PACKAGE_VERSION}"
      --release "${CPACK_DEBIAN_PACKAGE_RELEASE}"
      --maintainer "${CPACK_DEBIAN_PACKAGE_MAINTAINER}"
      --homepage "${CPACK_DEBIAN_PACKAGE_HOMEPAGE}"
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "writing the copyright file and changelogs of ${package} failed")
  endif()

  if(CPACK_ZPRESS_SHLIBS_LOCAL AND CPACK_DEBIAN_${component_upper}_PACKAGE_SHLIBDEPS)
    file(WRITE "${dir}/debian/shlibs.local" "${CPACK_ZPRESS_SHLIBS_LOCAL}\n")
  endif()
endforeach()
