# Line and branch coverage of the libraries and the driver (the coverage
# preset): gcc's --coverage counters, read by gcovr (Debian package gcovr).
# Every process that runs instrumented code adds its counts to the .gcda
# files beside the objects, so the hundreds of runs of the executable by the
# command-line and fault tests add up without any collecting step.
#
#   coverage_reset   drops the counts of earlier runs, then creates the
#                    executable's count files writable for everyone: some
#                    tests run it as an unprivileged user, whose counts must
#                    be added rather than refused with a message on stderr.
#                    (That one run, `zpress -h`, is counted; the tests run it
#                    too.)
#   coverage_report  the summary per library and for the driver, and under
#                    coverage/ in the build directory: files.txt (lines per
#                    file), coverage.json (every line and branch),
#                    index.html (annotated sources).
#
# Branches on exception edges and on lines without code are left out: every
# call that may throw is a branch to gcov, and none of them is a decision of
# this code.
option(ZPRESS_COVERAGE "Instrument for coverage with gcc --coverage (the coverage preset)" OFF)
if(NOT ZPRESS_COVERAGE)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  message(FATAL_ERROR "ZPRESS_COVERAGE needs gcc: use the coverage preset")
endif()
find_program(ZPRESS_GCOVR gcovr REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

add_compile_options(--coverage -fprofile-abs-path)
add_link_options(--coverage)

set(zpress_coverage_dir ${PROJECT_BINARY_DIR}/coverage)
add_custom_target(coverage_reset
  COMMAND find ${PROJECT_BINARY_DIR} -name "*.gcda" -delete
  COMMAND sh -c "umask 0 && exec \"$0\" -h >/dev/null" $<TARGET_FILE:zpress>
  COMMENT "Dropping the coverage counts of earlier runs"
  VERBATIM)
add_dependencies(coverage_reset zpress)

add_custom_target(coverage_report
  COMMAND ${CMAKE_COMMAND} -E make_directory ${zpress_coverage_dir}
  COMMAND ${ZPRESS_GCOVR} --root ${PROJECT_SOURCE_DIR} --object-directory ${PROJECT_BINARY_DIR}
          -j 2 --filter "(gzstream|lzw|cxx)/(src|include)/" --filter "driver/"
          --exclude-throw-branches --exclude-unreachable-branches
          --txt ${zpress_coverage_dir}/files.txt
          --json ${zpress_coverage_dir}/coverage.json
          --json-summary-pretty --json-summary ${zpress_coverage_dir}/summary.json
          --html-details ${zpress_coverage_dir}/index.html
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/cmake/coverage_summary.py
          ${zpress_coverage_dir}/summary.json
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "Coverage of the libraries and the driver"
  VERBATIM)
