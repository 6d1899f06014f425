// Random access in the uncompressed data of a gzip file with zpress::gzfile:
// writes a file of numbered fixed-size records, then reads records out of
// order by seeking to them, and checks each one.
//
//   gz_random_access      (works on a temporary file of its own, removed at the end)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <zpress/zpress.hpp>

namespace {

constexpr int kRecords = 10000;
constexpr std::size_t kRecordSize = 32;

std::string record(int i) {
    std::string r = "record " + std::to_string(i);
    r.resize(kRecordSize - 1, '.');
    return r + '\n';
}

// A new empty file of this program's own, named from a template.
std::string temporary_file() {
    const char* tmp = std::getenv("TMPDIR");
    std::string path =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/records.XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) throw zpress::error(-1, path + ": can't create a temporary file");
    close(fd);
    return path;
}

int run(const std::string& path) {
    zpress::gzfile out(path, "wb6");
    for (int i = 0; i < kRecords; ++i) out.write(record(i));
    out.close();  // writes the trailer; throws if anything failed

    zpress::gzfile in(path, "rb");
    std::string buf(kRecordSize, '\0');
    // Forward seeks read on; the first backward seek starts again from the
    // beginning, and later ones from the nearest restart point the file has
    // noted since, so they are cheap.
    for (int i : {9999, 17, 5000, 5001, 0, 1234}) {
        in.seek(static_cast<std::int64_t>(i) * static_cast<std::int64_t>(kRecordSize), SEEK_SET);
        const std::size_t n = in.read(std::as_writable_bytes(std::span(buf)));
        if (n != kRecordSize || buf != record(i)) {
            std::cerr << "gz_random_access: record " << i << " differs\n";
            return 1;
        }
        std::cout << "at " << in.tell() - static_cast<std::int64_t>(kRecordSize) << ": " << buf;
    }
    in.close();
    return 0;
}

}  // namespace

int main() {
    std::string path;
    int status = 1;
    try {
        path = temporary_file();
        status = run(path);
    } catch (const zpress::error& e) {
        std::cerr << "gz_random_access: " << e.what() << '\n';
    }
    if (!path.empty()) std::remove(path.c_str());  // the file this program made
    return status;
}
