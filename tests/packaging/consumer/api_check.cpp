// Uses every part of the C++ interface once, as a user would, in the
// directory given: reads the inputs check_api.py made there, writes outputs
// for it to judge, and checks what needs no outside judge itself.  Prints one
// line per check; exit status 1 when any failed.
//
//   api_check DIR
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <zpress/zpress.hpp>

namespace {

std::string dir;
int failures = 0;

std::string path(const std::string& name) { return dir + "/" + name; }

std::string slurp(const std::string& name) {
    std::ifstream in(path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void save(const std::string& name, const std::string& data) {
    std::ofstream(path(name), std::ios::binary) << data;
}

void check(const std::string& what, bool ok) {
    std::cout << (ok ? "ok    " : "FAIL  ") << what << '\n';
    if (!ok) ++failures;
}

// The call must throw zpress::error; `expected` is a part of its text.
void check_throws(const std::string& what, const std::function<void()>& call,
                  const std::string& expected = "") {
    try {
        call();
    } catch (const zpress::error& e) {
        const bool ok = std::string(e.what()).find(expected) != std::string::npos;
        std::cout << (ok ? "ok    " : "FAIL  ") << what << ": " << e.what() << '\n';
        if (!ok) ++failures;
        return;
    }
    check(what + ": no exception", false);
}

void memory_gzip(const std::string& text) {
    const std::string one = zpress::gzip_compress(text);
    save("memory.gz", one);
    check("gzip_compress/gzip_decompress round trip", zpress::gzip_decompress(one) == text);
    const std::string two = one + zpress::gzip_compress("second member\n", 9);
    save("two.gz", two);
    check("two members", zpress::gzip_decompress(two) == text + "second member\n");
    const std::string empty = zpress::gzip_compress("");
    save("empty.gz", empty);
    check("empty data", zpress::gzip_decompress(empty).empty());
    std::string bad_crc = one;
    bad_crc[bad_crc.size() - 8] ^= 0x20;
    check_throws("cut-off gzip data throws",
                 [&] { zpress::gzip_decompress(one.substr(0, one.size() / 2)); });
    check_throws("bad CRC throws", [&] { zpress::gzip_decompress(bad_crc); });
    check_throws(
        "plain text throws", [&] { zpress::gzip_decompress(text); }, "not gzip");
}

void memory_lzw(const std::string& text) {
    for (int bits : {9, 12, 16}) {
        const std::string z = zpress::lzw_compress(text, bits);
        save("memory" + std::to_string(bits) + ".Z", z);
        check("lzw_compress/lzw_decompress at " + std::to_string(bits) + " bits",
              zpress::lzw_decompress(z) == text);
        check("decodes a .Z stream of another writer, " + std::to_string(bits) + " bits",
              zpress::lzw_decompress(slurp("python" + std::to_string(bits) + ".Z")) == text);
    }
    check_throws(
        "not .Z data throws", [&] { zpress::lzw_decompress(text); }, "not .Z data");
}

void other_streams() {
    std::stringstream held;
    for (int member = 1; member <= 2; ++member) {
        zpress::ogzstream out(held);
        for (int i = 0; i < 1000; ++i) out << "member " << member << " line " << i << '\n';
        out.close();
        check("ogzstream over a std::stringstream closes cleanly", out.good());
    }
    save("stream.gz", held.str());
    std::istringstream source(held.str());
    zpress::igzstream in(source);
    std::string line;
    int lines = 0;
    bool in_order = true;
    while (std::getline(in, line)) {
        in_order &= line == "member " + std::to_string(1 + lines / 1000) + " line " +
                                std::to_string(lines % 1000);
        ++lines;
    }
    check("igzstream over a std::istringstream reads both members",
          lines == 2000 && in_order && !in.bad());

    // A quarter in: inside the first member.
    const std::string cut = held.str().substr(0, held.str().size() / 4);
    std::istringstream cut_source(cut);
    zpress::igzstream cut_in(cut_source);
    while (std::getline(cut_in, line)) {
    }
    check("a cut-off stream inside a std::istream sets badbit: " + cut_in.last_error(),
          cut_in.bad());
    std::istringstream cut_again(cut);
    zpress::igzstream throwing(cut_again);
    throwing.exceptions(std::ios::badbit);
    check_throws("... and throws when asked", [&] {
        while (std::getline(throwing, line)) {
        }
    });
}

void headers() {
    const zpress::gzip_header got = zpress::gzfile(path("python.gz"), "rb").header();
    check("reads the name and time another writer stored (" + got.name + ", " +
              std::to_string(got.mtime) + ")",
          got.name == "stored name.txt" && got.mtime == 1234567890 && got.comment.empty());
    zpress::gzfile out(path("header.gz"), "wb",
                       zpress::gzip_header{
                           .name = "chosen.txt", .comment = "chosen comment", .mtime = 1000000000});
    out.write(std::string_view("with a chosen header\n"));
    out.close();
    check("writes a chosen name, comment and time",
          zpress::gzfile(path("header.gz"), "rb").header().name == "chosen.txt");
}

void full_device() {
    check_throws(
        "ogzstream to /dev/full",
        [] {
            zpress::ogzstream out("/dev/full");
            out.exceptions(std::ios::badbit);
            out << "no room\n";
            out.close();
        },
        "/dev/full: No space left on device");
    check_throws(
        "gzfile to /dev/full",
        [] {
            zpress::gzfile out("/dev/full", "wb");
            out.write(std::string_view("no room\n"));
            out.close();
        },
        "/dev/full: No space left on device");
    check_throws(
        "olzwstream to /dev/full",
        [] {
            zpress::olzwstream out("/dev/full");
            out.exceptions(std::ios::badbit);
            out << std::string(1 << 20, 'z');
            out.close();
        },
        "/dev/full: No space left on device");
    check_throws(
        "open errors name the file", [] { zpress::gzfile in(path("missing.gz"), "rb"); },
        path("missing.gz") + ": No such file or directory");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: api_check DIR\n";
        return 2;
    }
    dir = argv[1];
    const std::string text = slurp("text.txt");
    memory_gzip(text);
    memory_lzw(text);
    other_streams();
    headers();
    full_device();
    std::cout << (failures == 0 ? "all checks passed\n"
                                : std::to_string(failures) + " checks failed\n");
    return failures == 0 ? 0 : 1;
}
