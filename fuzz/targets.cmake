# How each fuzz target is put together.  Shared by the libFuzzer build
# (fuzz/CMakeLists.txt) and the replay tests (fuzz/replay/CMakeLists.txt).
set(ZPRESS_FUZZ_ROOT ${CMAKE_CURRENT_LIST_DIR})
set(ZPRESS_FUZZ_TARGETS gz_read gz_roundtrip gz_index lzw_read lzw_roundtrip window_trace)

# Adds the executable `exe` built from the fuzz target `name`; further sources
# (a main) may follow.
function(zpress_add_fuzz_executable exe name)
  add_executable(${exe} ${ZPRESS_FUZZ_ROOT}/${name}_fuzz.cpp ${ARGN})
  target_include_directories(${exe} PRIVATE ${ZPRESS_FUZZ_ROOT})
  # Memory files and the independent judges come from the tests' support
  # library: the tolerant zlib oracle for gzip, the reference decoder for .Z.
  target_link_libraries(${exe} PRIVATE zpress_test_support zpress_warnings)
  if(name STREQUAL "gz_index" OR name STREQUAL "window_trace")
    # The index target builds its valid index through the layer's test hook;
    # the tracer and the engine's way it must agree with are internal too.
    target_link_libraries(${exe} PRIVATE gzstream)
    target_include_directories(${exe} PRIVATE ${ZPRESS_FUZZ_ROOT}/../gzstream/src)
  elseif(name MATCHES "^gz_")
    # The layer's fwrite, fflush and fread calls pass through the wrappers in
    # the support library's stdio_faults.cpp.
    target_link_libraries(${exe} PRIVATE gzstream)
    target_link_options(${exe} PRIVATE -Wl,--wrap=fwrite -Wl,--wrap=fflush -Wl,--wrap=fread)
  else()
    # The codec's read() calls pass through the wrapper in short_reads.cpp.
    target_sources(${exe} PRIVATE ${ZPRESS_FUZZ_ROOT}/common/short_reads.cpp)
    target_link_libraries(${exe} PRIVATE lzw)
    target_link_options(${exe} PRIVATE -Wl,--wrap=read)
  endif()
endfunction()
