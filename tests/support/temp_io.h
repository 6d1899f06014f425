// Temporary files and fed pipes for stream tests.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <thread>

#include "bytes.h"

namespace zpress_test {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The path of `name` inside the directory (nothing is created).
    std::string path(const std::string& name) const;

  private:
    std::filesystem::path dir_;
};

void write_file(const std::string& path, ByteView data);
Bytes read_file(const std::string& path);

// Size of the file as the system sees it (stat), without touching any stdio
// stream that may still hold buffered bytes for it.
std::size_t size_on_disk(const std::string& path);

// A pipe whose write end is fed by a thread in pieces of `piece` bytes; the
// write end is closed after the last piece.  The read end belongs to whoever
// takes it.  Broken pipes are ignored (the reader may stop early).
class PipeFeeder {
  public:
    PipeFeeder(Bytes data, std::size_t piece);
    ~PipeFeeder();
    PipeFeeder(const PipeFeeder&) = delete;
    PipeFeeder& operator=(const PipeFeeder&) = delete;

    int take_read_fd();
    void join();

  private:
    int read_fd_ = -1;
    std::thread feeder_;
};

}  // namespace zpress_test
