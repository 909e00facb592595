// Every kernel of the UTF-8 validator against the reference walk, on inputs
// chosen to reach each part of a vector kernel: every length up to 300 bytes
// (several 16-, 32-, 64- and 128-byte blocks and every size of tail),
// every alignment, an error at every position, multi-byte characters
// straddling every block boundary, and runs that end where the memory ends.
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "utf8_kernels.hpp"
#include "utf8_reference.hpp"

namespace corvane::detail {
// Test names and failure messages show a kernel by its name.
void PrintTo(utf8_kernel kernel, std::ostream* os) { *os << utf8_kernel_name(kernel); }
}  // namespace corvane::detail

namespace {

using corvane::detail::utf8_kernel;
using bytes = std::vector<std::uint8_t>;

constexpr std::size_t LONGEST = 300;

// Characters to build text from, valid ones and refused ones.
// clang-format off
const std::vector<bytes> valid_pieces = {
    {'a'}, {' '}, {'\t'}, {'\n'}, {'\r'}, {0x00}, {0x1B}, {0x7F},  // the first 8: one byte
    {0xC2, 0x80}, {0xC3, 0xA9}, {0xDF, 0xBF}, {0xC2, 0x85},
    {0xE0, 0xA0, 0x80}, {0xE0, 0xBF, 0xBF}, {0xE2, 0x82, 0xAC}, {0xED, 0x9F, 0xBF},
    {0xEE, 0x80, 0x80}, {0xEF, 0xBF, 0xBF},
    {0xF0, 0x90, 0x80, 0x80}, {0xF0, 0x9F, 0x98, 0x80}, {0xF1, 0x80, 0x80, 0x80},
    {0xF4, 0x8F, 0xBF, 0xBF},
};
const std::vector<bytes> refused_pieces = {
    {0x80}, {0xBF}, {0xC0}, {0xC1}, {0xC2}, {0xE0}, {0xED}, {0xF0}, {0xF4}, {0xF5}, {0xF8},
    {0xFF},
    {0xC0, 0x80}, {0xC1, 0xBF},                          // overlong 2-byte
    {0xE0, 0x9F, 0xBF}, {0xF0, 0x8F, 0xBF, 0xBF},        // overlong 3- and 4-byte
    {0xED, 0xA0, 0x80}, {0xED, 0xBF, 0xBF},              // surrogates
    {0xF4, 0x90, 0x80, 0x80}, {0xF5, 0x80, 0x80, 0x80},  // above U+10FFFF
    {0xE2, 0x82}, {0xF0, 0x90, 0x80}, {0xE2, 0x41, 0xAC},  // cut short
    {0xC3, 0xA9, 0xA9}, {0xE2, 0x82, 0xAC, 0x80},          // one continuation too many
    {0xF0, 0x90, 0x80, 0xC2, 0x80},                        // a lead inside a sequence
};
// clang-format on
const std::vector<bytes> ascii_pieces(valid_pieces.begin(), valid_pieces.begin() + 1);
const std::vector<bytes> multibyte_pieces(valid_pieces.begin() + 8, valid_pieces.end());

// Text of about `length` bytes drawn from `pieces` (a character may run
// past `length`; callers cut it, which is itself a useful case).
bytes random_text(std::mt19937_64& rng, std::size_t length, const std::vector<bytes>& pieces) {
    bytes text;
    while (text.size() < length) {
        const bytes& piece = pieces[rng() % pieces.size()];
        text.insert(text.end(), piece.begin(), piece.end());
    }
    return text;
}

// text with piece written over it from position at on, cut at its end.
bytes with_piece(bytes text, std::size_t at, const bytes& piece) {
    for (std::size_t k = 0; k < piece.size() && at + k < text.size(); ++k) text[at + k] = piece[k];
    return text;
}

std::string hex(const std::uint8_t* p, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X ", p[i]);
        out += two;
    }
    return out;
}

class Utf8KernelTest : public testing::TestWithParam<utf8_kernel> {
protected:
    void SetUp() override {
        check_ = corvane::detail::utf8_kernel_check(GetParam());
        if (check_ == nullptr) {
            GTEST_SKIP() << "this CPU cannot run the "
                         << corvane::detail::utf8_kernel_name(GetParam()) << " kernel";
        }
    }

    // Both checks of the kernel under test give the reference's result.
    testing::AssertionResult same(const std::uint8_t* p, std::size_t n) const {
        const auto* text = reinterpret_cast<const char*>(p);
        const bool valid = corvane::reference::utf8_valid(text, n);
        const bool printable = corvane::reference::utf8_printable(text, n);
        if (check_(p, n, false) != valid || check_(p, n, true) != printable) {
            return testing::AssertionFailure()
                   << "the reference says valid=" << valid << " printable=" << printable
                   << " for the " << n << " bytes at offset "
                   << (reinterpret_cast<std::uintptr_t>(p) % 64) << ": " << hex(p, n);
        }
        return testing::AssertionSuccess();
    }

    // The text placed at `offset` bytes past a 64-byte boundary.
    testing::AssertionResult same_at(const bytes& text, std::size_t offset) {
        if (!text.empty()) std::memcpy(buffer + offset, text.data(), text.size());
        return same(buffer + offset, text.size());
    }

    corvane::detail::utf8_check check_ = nullptr;
    alignas(64) std::uint8_t buffer[64 + LONGEST + 8]{};
};

TEST_P(Utf8KernelTest, EveryLengthAndAlignment) {
    std::mt19937_64 rng(1);
    const std::vector<bytes> mixes[] = {ascii_pieces, valid_pieces, multibyte_pieces};
    for (const auto& pieces : mixes) {
        const bytes text = random_text(rng, LONGEST, pieces);
        for (std::size_t length = 0; length <= LONGEST; ++length) {
            const bytes prefix(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length));
            for (std::size_t offset = 0; offset < 64; ++offset)
                ASSERT_TRUE(same_at(prefix, offset));
        }
    }
}

TEST_P(Utf8KernelTest, ARefusedSequenceAtEveryPosition) {
    std::mt19937_64 rng(2);
    for (std::size_t length = 1; length <= LONGEST; ++length) {
        // Plain ASCII around the error for odd lengths, mixed text for even.
        bytes background = random_text(rng, length, length % 2 ? ascii_pieces : valid_pieces);
        background.resize(length);
        for (std::size_t at = 0; at < length; ++at) {
            // Every refused sequence at every position of runs up to two
            // 64-byte blocks and a tail; past that, three of them in turn.
            const std::size_t n = refused_pieces.size();
            for (std::size_t i = 0; i < n; ++i) {
                if (length > 140 && (i + at + length) % n >= 3) continue;
                ASSERT_TRUE(
                    same_at(with_piece(background, at, refused_pieces[i]), (length + at) % 64));
            }
        }
    }
}

TEST_P(Utf8KernelTest, EveryByteValueAtEveryPosition) {
    // In ASCII text, so that the byte alone decides: control bytes, stray
    // continuation bytes, leads left open, bytes that never occur.
    for (std::size_t length : {1u, 2u, 3u, 15u, 16u, 17u, 31u, 32u, 33u, 47u, 63u, 64u, 65u, 66u,
                               96u, 127u, 128u, 129u, 150u}) {
        for (std::size_t at = 0; at < length; ++at) {
            for (unsigned value = 0; value < 256; ++value) {
                const bytes byte = {static_cast<std::uint8_t>(value)};
                ASSERT_TRUE(same_at(with_piece(bytes(length, 'x'), at, byte), (at + value) % 64));
            }
        }
    }
}

TEST_P(Utf8KernelTest, LongAsciiStretchesThenAnything) {
    // Runs long enough for the kernels' fast way through ASCII (128 and 256
    // bytes a test, after a first 64), broken or continued at every position.
    std::vector<bytes> pieces = refused_pieces;
    pieces.insert(pieces.end(), valid_pieces.begin(), valid_pieces.end());
    std::vector<std::uint8_t> run(64 + 1200 + 8);
    std::size_t turn = 0;
    for (std::size_t length : {191u, 192u, 193u, 319u, 320u, 321u, 575u, 576u, 577u, 1200u}) {
        bytes ascii(length, 'x');
        for (std::size_t i = 70; i < length; i += 70) ascii[i] = '\n';
        for (std::size_t at = 0; at < length; ++at) {
            const bytes text = with_piece(ascii, at, pieces[turn++ % pieces.size()]);
            const std::size_t offset = at % 64;
            std::memcpy(run.data() + offset, text.data(), length);
            ASSERT_TRUE(same(run.data() + offset, length));
        }
    }
}

TEST_P(Utf8KernelTest, MultiByteCharactersStraddlingEveryBoundary) {
    for (std::size_t length = 1; length <= LONGEST; ++length) {
        for (std::size_t at = 0; at < length; ++at) {
            for (std::size_t piece = 8; piece < valid_pieces.size(); ++piece) {
                if (length > 140 && (piece + at + length) % (valid_pieces.size() - 8) >= 3) {
                    continue;  // as above: past 140 bytes, three in turn
                }
                ASSERT_TRUE(
                    same_at(with_piece(bytes(length, 'x'), at, valid_pieces[piece]), at % 64));
            }
        }
    }
}

TEST_P(Utf8KernelTest, RandomMutations) {
    std::mt19937_64 rng(3);
    for (int round = 0; round < 20000; ++round) {
        const std::size_t length = rng() % (LONGEST + 1);
        bytes text = random_text(rng, length, valid_pieces);
        text.resize(length);
        const int mutations = static_cast<int>(rng() % 3);
        for (int m = 0; m < mutations && length > 0; ++m)
            text[rng() % length] = static_cast<std::uint8_t>(rng());
        ASSERT_TRUE(same_at(text, rng() % 64));
    }
}

TEST_P(Utf8KernelTest, RunsEndingWhereTheMemoryEnds) {
    // The run is put right before an inaccessible page, or right after one:
    // a read past either end of the run stops the test with a fault.
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* area =
        mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(area, MAP_FAILED);
    auto* base = static_cast<std::uint8_t*>(area);
    ASSERT_EQ(mprotect(base, page, PROT_NONE), 0);
    ASSERT_EQ(mprotect(base + 2 * page, page, PROT_NONE), 0);
    std::uint8_t* const first = base + page;
    std::uint8_t* const end = base + 2 * page;

    std::mt19937_64 rng(4);
    const bytes text = random_text(rng, LONGEST, valid_pieces);
    const bytes open_end = {'a', 'b', 0xF0, 0x90, 0x80};  // a sequence the end cuts short
    for (std::size_t length = 0; length <= LONGEST; ++length) {
        std::memcpy(end - length, text.data(), length);
        EXPECT_TRUE(same(end - length, length)) << "run before the end, length " << length;
        std::memcpy(first, text.data(), length);
        EXPECT_TRUE(same(first, length)) << "run after the start, length " << length;
        for (std::size_t cut = 1; cut <= open_end.size() && cut <= length; ++cut) {
            std::memcpy(end - cut, open_end.data(), cut);
            EXPECT_TRUE(same(end - length, length)) << "open end, length " << length;
        }
    }
    munmap(area, 3 * page);
}

TEST_P(Utf8KernelTest, EveryPairOfBytes) {
    for (unsigned a = 0; a < 256; ++a) {
        for (unsigned b = 0; b < 256; ++b) {
            const bytes text = {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b)};
            ASSERT_TRUE(same_at(text, (a + b) % 64));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, Utf8KernelTest, testing::ValuesIn(corvane::detail::utf8_kernels),
                         [](const testing::TestParamInfo<utf8_kernel>& param) {
                             return std::string(corvane::detail::utf8_kernel_name(param.param));
                         });

TEST(Utf8Kernels, RunWhereTheCompilerRuntimeSeesTheCpuSupportThem) {
    // An independent look at the CPU and at what the OS enabled (libgcc or
    // compiler-rt), against the library's detection.
    using corvane::detail::utf8_kernel_check;
    EXPECT_NE(utf8_kernel_check(utf8_kernel::scalar), nullptr);
#if CORVANE_UTF8_X86
    __builtin_cpu_init();
    EXPECT_EQ(utf8_kernel_check(utf8_kernel::ssse3) != nullptr,
              __builtin_cpu_supports("ssse3") != 0);
    EXPECT_EQ(utf8_kernel_check(utf8_kernel::avx2) != nullptr, __builtin_cpu_supports("avx2") != 0);
    EXPECT_EQ(utf8_kernel_check(utf8_kernel::avx512) != nullptr,
              __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
                  __builtin_cpu_supports("avx512vbmi") != 0);
#endif
}

}  // namespace
