// Runs a fuzz target over saved inputs without libFuzzer: every regular file
// named on the command line, or found below a named directory, is fed to
// LLVMFuzzerTestOneInput once, in sorted order.  A broken expectation aborts;
// the name of the input is printed first so that the culprit is known.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool hidden(const fs::path& p) {
    const std::string name = p.filename().string();
    return !name.empty() && name[0] == '.';
}

void collect(const fs::path& p, std::vector<fs::path>& out) {
    if (fs::is_directory(p)) {
        for (const auto& entry : fs::recursive_directory_iterator(p))
            if (entry.is_regular_file() && !hidden(entry.path())) out.push_back(entry.path());
    } else if (fs::is_regular_file(p)) {
        out.push_back(p);
    } else {
        std::fprintf(stderr, "replay: skipping %s (not found)\n", p.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) collect(argv[i], inputs);
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "replay: no inputs\n");
        return 1;
    }
    for (const fs::path& p : inputs) {
        std::ifstream in(p, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            std::fprintf(stderr, "replay: cannot read %s\n", p.c_str());
            return 1;
        }
        std::fprintf(stderr, "replay: %s\n", p.c_str());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
