// Random access in the uncompressed data of a gzip file with zpress::gzfile:
// writes a file of numbered fixed-size records, then reads records out of
// order by seeking to them, and checks each one.
//
//   gz_random_access [FILE]    (default: records.gz; removed on success)
#include <zpress/zpress.hpp>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

constexpr int kRecords = 10000;
constexpr std::size_t kRecordSize = 32;

std::string record(int i) {
    std::string r = "record " + std::to_string(i);
    r.resize(kRecordSize - 1, '.');
    return r + '\n';
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : "records.gz";
    try {
        zpress::gzfile out(path, "wb6");
        for (int i = 0; i < kRecords; ++i) out.write(record(i));
        out.close();  // writes the trailer; throws if anything failed

        zpress::gzfile in(path, "rb");
        std::string buf(kRecordSize, '\0');
        // Forward seeks skip ahead; a backward seek starts again from the
        // beginning, so visit in increasing order where possible.
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
    } catch (const zpress::error& e) {
        std::cerr << "gz_random_access: " << e.what() << '\n';
        return 1;
    }
    std::remove(path.c_str());
    return 0;
}
