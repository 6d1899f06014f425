# How each fuzz target is put together.  Shared by the libFuzzer build
# (fuzz/CMakeLists.txt) and the replay tests (fuzz/replay/CMakeLists.txt).
set(ZPRESS_FUZZ_ROOT ${CMAKE_CURRENT_LIST_DIR})
set(ZPRESS_FUZZ_TARGETS gz_read gz_roundtrip lzw_read lzw_roundtrip)

# Adds the executable `exe` built from the fuzz target `name`; further sources
# (a main) may follow.
function(zpress_add_fuzz_executable exe name)
  add_executable(${exe} ${ZPRESS_FUZZ_ROOT}/${name}_fuzz.cpp
                        ${ZPRESS_FUZZ_ROOT}/common/mem_file.cpp ${ARGN})
  target_include_directories(${exe} PRIVATE ${ZPRESS_FUZZ_ROOT})
  target_link_libraries(${exe} PRIVATE zpress_warnings)
  if(name MATCHES "^gz_")
    # zlib's own gzip decoding is the independent judge; the layer's fwrite,
    # fflush and fread calls pass through the wrappers in failing_io.cpp.
    target_sources(${exe} PRIVATE ${ZPRESS_FUZZ_ROOT}/common/gzip_oracle.cpp
                                  ${ZPRESS_FUZZ_ROOT}/common/failing_io.cpp)
    target_link_libraries(${exe} PRIVATE gzstream ZLIB::ZLIB)
    target_link_options(${exe} PRIVATE -Wl,--wrap=fwrite -Wl,--wrap=fflush -Wl,--wrap=fread)
  else()
    # The codec's read() calls pass through the wrapper in short_reads.cpp.
    # The unit tests' strict reference decoder is the independent judge.
    target_sources(${exe} PRIVATE ${ZPRESS_FUZZ_ROOT}/common/short_reads.cpp
                                  ${ZPRESS_FUZZ_ROOT}/common/lzw_oracle.cpp
                                  ${ZPRESS_FUZZ_ROOT}/../lzw/tests/reference_lzw.cpp)
    target_include_directories(${exe} PRIVATE ${ZPRESS_FUZZ_ROOT}/../lzw/tests)
    target_link_libraries(${exe} PRIVATE lzw)
    target_link_options(${exe} PRIVATE -Wl,--wrap=read)
  endif()
endfunction()
