// The text-like and binary-like models.  Integer arithmetic only: floating
// point (pow, log) may round differently from one C library to the next,
// which would change the data.  Each draw is a statement of its own, since
// the operands of + may be evaluated in any order.
#include "test_data.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "seeded_rng.h"

namespace zpress_test {
namespace {

// Index i drawn with weight proportional to 1 / (i + offset): a few items
// dominate and a long tail follows, as with words and opcodes.
class Zipf {
  public:
    Zipf(std::size_t n, std::uint32_t offset) {
        cumulative_.reserve(n);
        std::uint32_t total = 0;
        for (std::size_t i = 0; i < n; ++i) {
            total += std::max<std::uint32_t>(1, kScale / static_cast<std::uint32_t>(i + offset));
            cumulative_.push_back(total);
        }
    }
    std::size_t pick(SeededRng& rng) const {
        const std::uint32_t r = rng.next() % cumulative_.back();
        return static_cast<std::size_t>(
            std::upper_bound(cumulative_.begin(), cumulative_.end(), r) - cumulative_.begin());
    }

  private:
    static constexpr std::uint32_t kScale = 1'000'000;
    std::vector<std::uint32_t> cumulative_;
};

void append(Bytes& out, std::string_view s) { out.insert(out.end(), s.begin(), s.end()); }

// ---- text ------------------------------------------------------------------

// Letters in roughly English proportions; a uniform pick from this string
// gives a skewed letter distribution.
constexpr std::string_view kLetters =
    "eeeeeeeeeeeetttttttttaaaaaaaaooooooooiiiiiiinnnnnnnsssssshhhhhhrrrrrrddddlllll"
    "cccuuummmwwffggyyppbbvkjxqz";

// The most frequent tokens of code and prose come first in the vocabulary.
constexpr std::array<std::string_view, 48> kKeywords = {
    "the",      "const",   "return",  "int",      "if",        "std",    "a",      "of",
    "void",     "to",      "static",  "struct",   "is",        "and",    "in",     "for",
    "unsigned", "char",    "class",   "template", "typename",  "inline", "bool",   "auto",
    "size_t",   "public",  "else",    "this",     "that",      "value",  "define", "include",
    "nullptr",  "true",    "false",   "while",    "namespace", "case",   "break",  "be",
    "uint32_t", "private", "virtual", "override", "with",      "are",    "type",   "data"};

constexpr std::array<std::string_view, 20> kSeparators = {
    " ", "(",  ", ", ") ", " = ", "::",   "->",   ".",  " *",  "&",
    "<", "> ", "[",  "]",  " + ", " == ", " && ", "; ", " - ", " != "};

constexpr std::array<std::string_view, 8> kLineEnds = {";", "", " {", ")", ",", "}", ":", ");"};

std::string make_word(SeededRng& rng) {
    static constexpr std::array<std::size_t, 18> lengths = {2, 3, 3, 4, 4, 4, 5,  5,  5,
                                                            6, 6, 7, 7, 8, 9, 10, 11, 12};
    std::string w;
    for (std::size_t n = lengths[rng.below(lengths.size())]; n > 0; --n)
        w += kLetters[rng.below(kLetters.size())];
    return w;
}

std::string capitalised(std::string w) {
    w[0] = static_cast<char>(w[0] - 'a' + 'A');
    return w;
}

std::string upper(std::string w) {
    for (char& c : w) c = static_cast<char>(c - 'a' + 'A');
    return w;
}

std::string make_token(SeededRng& rng) {
    static constexpr char kHex[] = "0123456789abcdef";
    const std::size_t style = rng.below(100);
    if (style < 40) return make_word(rng);
    if (style < 80) {
        std::string first = make_word(rng);
        std::string second = make_word(rng);
        if (style < 55) return first + "_" + second;
        if (style < 70) return first + capitalised(second);
        return capitalised(first);
    }
    if (style < 88) {
        std::string first = make_word(rng);
        std::string second = make_word(rng);
        return upper(first) + "_" + upper(second);
    }
    if (style < 95) return std::to_string(rng.below(10000));
    std::string hex = "0x";
    for (std::size_t n = rng.between(2, 8); n > 0; --n) hex += kHex[rng.below(16)];
    return hex;
}

class TextModel {
  public:
    explicit TextModel(std::uint32_t seed)
        : rng_(seed),
          words_(kVocabulary, 1),
          separators_(kSeparators.size(), 1),
          ends_(kLineEnds.size(), 1),
          recent_(kHistory, 3) {
        vocabulary_.assign(kKeywords.begin(), kKeywords.end());
        while (vocabulary_.size() < kVocabulary) vocabulary_.push_back(make_token(rng_));
    }

    Bytes make(std::size_t size) {
        Bytes out;
        out.reserve(size + 4096);
        std::string line;
        while (out.size() < size) {
            next_line(line);
            append(out, line);
            out.push_back('\n');
            history_[lines_++ % kHistory] = line;
        }
        out.resize(size);
        return out;
    }

  private:
    static constexpr std::size_t kVocabulary = 6000;
    static constexpr std::size_t kHistory = 256;

    void next_line(std::string& line) {
        if (pending_ > 0) {
            // Inside a block of lines repeated from earlier.
            line = history_[(lines_ - copy_distance_) % kHistory];
            --pending_;
            return;
        }
        const std::size_t kind = rng_.below(100);
        if (kind < 5) {
            line.clear();
        } else if (kind < 29 && lines_ >= kHistory) {
            copy_distance_ = 1 + recent_.pick(rng_);
            pending_ = rng_.between(0, std::min<std::size_t>(copy_distance_ - 1, 10));
            line = history_[(lines_ - copy_distance_) % kHistory];
        } else if (kind < 45 && lines_ >= kHistory) {
            // A recent line's beginning with a new continuation.
            line = recent_line();
            line.resize(line.size() / 2 + rng_.below(line.size() / 2 + 1));
            add_tokens(line, rng_.between(1, 5));
        } else if (kind < 60) {
            comment(line);
        } else {
            code(line);
        }
    }

    const std::string& recent_line() {
        return history_[(lines_ - 1 - recent_.pick(rng_)) % kHistory];
    }

    void indent(std::string& line) {
        if (rng_.percent(30))
            depth_ = std::min<std::size_t>(6, depth_ + 1);
        else if (rng_.percent(40) && depth_ > 0)
            --depth_;
        line.assign(4 * depth_, ' ');
    }

    void comment(std::string& line) {
        indent(line);
        line += rng_.percent(50) ? "// " : " * ";
        for (std::size_t n = rng_.between(3, 14); n > 0; --n) {
            line += vocabulary_[words_.pick(rng_)];
            line += n > 1 ? " " : ".";
        }
    }

    void code(std::string& line) {
        indent(line);
        add_tokens(line, rng_.between(2, 10));
        line += kLineEnds[ends_.pick(rng_)];
    }

    void add_tokens(std::string& line, std::size_t n) {
        for (; n > 0; --n) {
            line += vocabulary_[words_.pick(rng_)];
            if (n > 1) line += kSeparators[separators_.pick(rng_)];
        }
    }

    SeededRng rng_;
    Zipf words_, separators_, ends_, recent_;
    std::vector<std::string> vocabulary_;
    std::array<std::string, kHistory> history_;
    std::size_t lines_ = 0;
    std::size_t depth_ = 0;
    std::size_t pending_ = 0;  // lines still to copy from copy_distance_ lines back
    std::size_t copy_distance_ = 1;
};

// ---- binary ----------------------------------------------------------------

enum class Operand { none, modrm, modrm_disp8, modrm_disp32, imm8, imm32, rel8, rel32 };

struct Instruction {
    std::array<unsigned char, 3> opcode{};
    std::size_t opcode_length = 1;
    Operand operand = Operand::none;
};

// Bytes that open most x86-64 instructions: REX prefixes, moves, lea,
// arithmetic, compares, pushes and pops, jumps and calls.
constexpr std::array<unsigned char, 32> kOpcodeBytes = {
    0x48, 0x89, 0x8b, 0x48, 0x8d, 0x83, 0x85, 0x49, 0x4c, 0x0f, 0x31, 0x39, 0x3b, 0xff, 0xc7, 0xe8,
    0x74, 0x75, 0xeb, 0x41, 0x66, 0x50, 0x53, 0x55, 0x5b, 0x5d, 0x01, 0x29, 0x84, 0xc1, 0x80, 0x44};

class BinaryModel {
  public:
    explicit BinaryModel(std::uint32_t seed)
        : rng_(seed),
          instructions_(kInstructions, 2),
          opcode_bytes_(kOpcodeBytes.size(), 3),
          operand_(8, 2),
          small_(256, 1),
          pool_(kPool, 4),
          functions_(kFunctions, 8),
          frames_(kFrames, 1) {
        for (auto& insn : table_) {
            insn.opcode_length = rng_.between(1, 3);
            for (std::size_t i = 0; i < insn.opcode_length; ++i)
                insn.opcode[i] = kOpcodeBytes[opcode_bytes_.pick(rng_)];
            insn.operand = static_cast<Operand>(operand_.pick(rng_));
        }
        for (auto& v : modrm_) v = static_cast<unsigned char>(rng_.next());
        for (auto& v : pool_values_) {
            const std::uint32_t value = rng_.next();
            v = value >> (8 + rng_.below(24));
        }
        for (auto& frame : prologues_) frame = random_bytes(rng_.between(4, 18));
        for (auto& frame : epilogues_) frame = random_bytes(rng_.between(2, 10));
    }

    Bytes make(std::size_t size) {
        out_.reserve(size + 65536);
        while (out_.size() < size) {
            if (rng_.percent(5))
                data_table();
            else
                function();
        }
        out_.resize(size);
        return std::move(out_);
    }

  private:
    static constexpr std::size_t kInstructions = 400;
    static constexpr std::size_t kPool = 500;
    static constexpr std::size_t kFunctions = 4000;
    static constexpr std::size_t kFrames = 12;
    static constexpr std::size_t kWindow = 32768;

    Bytes random_bytes(std::size_t n) {
        Bytes b(n);
        for (auto& v : b) v = static_cast<unsigned char>(rng_.next());
        return b;
    }

    void le(std::uint64_t v, std::size_t n) {
        for (; n > 0; --n, v >>= 8) out_.push_back(static_cast<unsigned char>(v));
    }

    void function() {
        function_starts_[starts_++ % kFunctions] = out_.size();
        const Bytes& prologue = prologues_[frames_.pick(rng_)];
        out_.insert(out_.end(), prologue.begin(), prologue.end());
        for (std::size_t n = rng_.between(5, 150); n > 0; --n) {
            if (rng_.percent(9) && out_.size() > kWindow)
                inlined();
            else
                instruction();
        }
        const Bytes& epilogue = epilogues_[frames_.pick(rng_)];
        out_.insert(out_.end(), epilogue.begin(), epilogue.end());
        out_.push_back(0xc3);
        while (out_.size() % 16 != 0) out_.push_back(0xcc);
    }

    // Code repeated from a little earlier, as inlining and templates leave it.
    void inlined() {
        const std::size_t length = rng_.between(16, 96);
        const std::size_t from = out_.size() - kWindow + rng_.below(kWindow - length);
        for (std::size_t i = 0; i < length; ++i) out_.push_back(out_[from + i]);
    }

    void instruction() {
        const Instruction& insn = table_[instructions_.pick(rng_)];
        out_.insert(out_.end(), insn.opcode.begin(),
                    insn.opcode.begin() + static_cast<std::ptrdiff_t>(insn.opcode_length));
        switch (insn.operand) {
            case Operand::none:
                break;
            case Operand::modrm:
                out_.push_back(modrm_[small_.pick(rng_) % modrm_.size()]);
                break;
            case Operand::modrm_disp8:
                out_.push_back(modrm_[small_.pick(rng_) % modrm_.size()]);
                out_.push_back(static_cast<unsigned char>(8 * (small_.pick(rng_) % 16)));
                break;
            case Operand::modrm_disp32:
                out_.push_back(modrm_[small_.pick(rng_) % modrm_.size()]);
                le(pool_values_[pool_.pick(rng_)], 4);
                break;
            case Operand::imm8:
                out_.push_back(static_cast<unsigned char>(small_.pick(rng_)));
                break;
            case Operand::imm32:
                if (rng_.percent(15))
                    le(~std::uint64_t{small_.pick(rng_)}, 4);  // small negative
                else
                    le(rng_.percent(75) ? small_.pick(rng_) : pool_values_[pool_.pick(rng_)], 4);
                break;
            case Operand::rel8:
                out_.push_back(static_cast<unsigned char>(rng_.below(200) - 100));
                break;
            case Operand::rel32: {
                // Calls name a function by its distance, so the bytes change
                // with the call's position.
                const std::size_t known = std::min(starts_, kFunctions);
                const std::size_t target =
                    known ? function_starts_[functions_.pick(rng_) % known] : 0;
                le(static_cast<std::uint64_t>(target) - (out_.size() + 4), 4);
                break;
            }
        }
    }

    // Data between the code: a table of pointers (slowly rising 64-bit
    // addresses), an array of records with small and mostly zero fields, or
    // NUL-terminated symbol names.
    void data_table() {
        const std::size_t kind = rng_.below(100);
        if (kind < 35) {
            std::uint64_t address = 0x400000 + (std::uint64_t{rng_.next()} << 4);
            const std::size_t stride = 8 * rng_.between(1, 4);
            for (std::size_t n = rng_.between(64, 1024); n > 0; --n) {
                le(address, 8);
                address += stride * rng_.between(1, 3);
            }
        } else if (kind < 50) {
            const std::size_t fields = rng_.between(2, 8);
            for (std::size_t n = rng_.between(32, 512); n > 0; --n) {
                for (std::size_t f = 0; f < fields; ++f)
                    le(rng_.percent(50) ? 0 : small_.pick(rng_), 4);
            }
        } else {
            for (std::size_t n = rng_.between(64, 512); n > 0; --n) {
                append(out_, "_ZN");
                for (std::size_t parts = rng_.between(1, 4); parts > 0; --parts) {
                    const std::string word = make_word(rng_);
                    append(out_, std::to_string(word.size()));
                    append(out_, word);
                }
                append(out_, "E");
                out_.push_back(0);
            }
        }
    }

    SeededRng rng_;
    Zipf instructions_, opcode_bytes_, operand_, small_, pool_, functions_, frames_;
    std::array<Instruction, kInstructions> table_{};
    std::array<unsigned char, 64> modrm_{};
    std::array<std::uint32_t, kPool> pool_values_{};
    std::array<Bytes, kFrames> prologues_, epilogues_;
    std::array<std::size_t, kFunctions> function_starts_{};
    std::size_t starts_ = 0;
    Bytes out_;
};

}  // namespace

Bytes text_like(std::size_t size, std::uint32_t seed) { return TextModel(seed).make(size); }

Bytes binary_like(std::size_t size, std::uint32_t seed) { return BinaryModel(seed).make(size); }

}  // namespace zpress_test
