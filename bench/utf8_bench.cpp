// Speed of utf8_valid_n and utf8_printable_n, and of each kernel this CPU
// can run, against the reference byte walk of the same rules, and against
// utfcpp, ICU and simdjson (its own choice of kernel, and its AVX2 kernel)
// where the build found them.
//
// Inputs: 1 MiB each of ASCII, Latin text with accents, Greek and Cyrillic,
// CJK, and emoji-heavy text, generated from a fixed seed; and nicknames of
// 8 to 64 bytes. Before anything is timed, every implementation is run on
// every input and on a broken copy of it; the program aborts unless they all
// agree.
//
//   utf8_bench --benchmark_repetitions=9 --benchmark_enable_random_interleaving=true
//              --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <corvane/chars.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "utf8_kernels.hpp"
#include "utf8_reference.hpp"

#if CORVANE_BENCH_UTFCPP
#include <utf8.h>
#endif
#if CORVANE_BENCH_ICU
#include <unicode/utf8.h>
#endif
#if CORVANE_BENCH_SIMDJSON
#include <simdjson.h>
#endif

namespace {

// ---------------------------------------------------------------- baselines

// The straightforward walk, one byte at a time, that the tests and the
// fuzzers also hold the library to.
bool walk_valid(const char* bytes, std::size_t length) {
    return corvane::reference::utf8_valid(bytes, length);
}

bool walk_printable(const char* bytes, std::size_t length) {
    return corvane::reference::utf8_printable(bytes, length);
}

#if CORVANE_BENCH_UTFCPP
bool utfcpp_valid(const char* bytes, std::size_t length) {
    return utf8::is_valid(bytes, bytes + length);
}
#endif

#if CORVANE_BENCH_ICU
bool icu_valid(const char* bytes, std::size_t length) {
    const auto* text = reinterpret_cast<const std::uint8_t*>(bytes);
    const auto end = static_cast<std::int32_t>(length);
    std::int32_t at = 0;
    while (at < end) {
        UChar32 c;
        U8_NEXT(text, at, end, c);
        if (c < 0) return false;
    }
    return true;
}
#endif

#if CORVANE_BENCH_SIMDJSON
bool simdjson_valid(const char* bytes, std::size_t length) {
    return simdjson::validate_utf8(bytes, length);
}

// simdjson's AVX2 kernel, called as its own dispatch would call it.
const simdjson::implementation* simdjson_haswell = nullptr;

bool simdjson_avx2_valid(const char* bytes, std::size_t length) {
    return simdjson_haswell->validate_utf8(bytes, length);
}
#endif

using validator = bool (*)(const char*, std::size_t);

// Each kernel is called through its pointer, as utf8_valid_n calls it.
using corvane::detail::utf8_kernel;
corvane::detail::utf8_check kernel_checks[std::size(corvane::detail::utf8_kernels)];

template <utf8_kernel Kernel>
bool kernel_valid(const char* bytes, std::size_t length) {
    return kernel_checks[static_cast<int>(Kernel)](reinterpret_cast<const unsigned char*>(bytes),
                                                   length, false);
}

template <utf8_kernel Kernel>
bool kernel_printable(const char* bytes, std::size_t length) {
    return kernel_checks[static_cast<int>(Kernel)](reinterpret_cast<const unsigned char*>(bytes),
                                                   length, true);
}

struct implementation {
    const char* name;
    validator valid;
    bool printable;  // tests utf8_printable_n's rule, not utf8_valid_n's
    bool available;
};

std::vector<implementation> implementations() {
    const auto has = [](utf8_kernel kernel) {
        return kernel_checks[static_cast<int>(kernel)] != nullptr;
    };
    return {
        {"walk", walk_valid, false, true}, {"utf8_valid_n", corvane::utf8_valid_n, false, true},
            {"scalar", kernel_valid<utf8_kernel::scalar>, false, true},
            {"ssse3", kernel_valid<utf8_kernel::ssse3>, false, has(utf8_kernel::ssse3)},
            {"avx2", kernel_valid<utf8_kernel::avx2>, false, has(utf8_kernel::avx2)},
            {"avx512", kernel_valid<utf8_kernel::avx512>, false, has(utf8_kernel::avx512)},
#if CORVANE_BENCH_UTFCPP
            {"utfcpp", utfcpp_valid, false, true},
#endif
#if CORVANE_BENCH_ICU
            {"icu", icu_valid, false, true},
#endif
#if CORVANE_BENCH_SIMDJSON
            {"simdjson", simdjson_valid, false, true},
            {"simdjson_avx2", simdjson_avx2_valid, false, simdjson_haswell != nullptr},
#endif
            {"walk_printable", walk_printable, true, true},
            {"utf8_printable_n", corvane::utf8_printable_n, true, true},
            {"scalar_printable", kernel_printable<utf8_kernel::scalar>, true, true},
            {"avx2_printable", kernel_printable<utf8_kernel::avx2>, true, has(utf8_kernel::avx2)},
            {"avx512_printable", kernel_printable<utf8_kernel::avx512>, true,
             has(utf8_kernel::avx512)},
    };
}

// ------------------------------------------------------------------- inputs

struct random_bits {
    std::uint64_t state;
    std::uint32_t below(std::uint32_t n) {  // xorshift64*
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return static_cast<std::uint32_t>(((state * 0x2545F4914F6CDD1DULL) >> 32) % n);
    }
};

void append_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

constexpr std::size_t MIB = 1 << 20;

enum class script : unsigned { ascii, latin, greek_cyrillic, cjk, emoji };

// About 1 MiB of words of the given script, separated by spaces, with
// punctuation and line breaks; whole characters only.
std::string make_text(script kind) {
    static constexpr std::uint32_t accents[] = {0xE9, 0xE8, 0xE0, 0xE7, 0xF1, 0xFC, 0xF6,
                                                0xE4, 0xEA, 0xF4, 0xED, 0xF3, 0xC9, 0xDF};
    random_bits rng{0x9E3779B97F4A7C15ULL + static_cast<std::uint64_t>(kind)};
    std::string text;
    text.reserve(MIB + 16);
    std::string word;
    while (true) {
        word.clear();
        const std::uint32_t letters = 1 + rng.below(9);
        const bool cyrillic = rng.below(2) == 0;
        for (std::uint32_t i = 0; i < letters; ++i) {
            switch (kind) {
                case script::ascii:
                    append_utf8(word, 'a' + rng.below(26));
                    break;
                case script::latin:
                    append_utf8(word,
                                rng.below(6) == 0 ? accents[rng.below(14)] : 'a' + rng.below(26));
                    break;
                case script::greek_cyrillic:
                    append_utf8(word, cyrillic ? 0x430 + rng.below(32) : 0x3B1 + rng.below(25));
                    break;
                case script::cjk:
                    append_utf8(word, 0x4E00 + rng.below(0x5200));
                    break;
                case script::emoji:
                    if (rng.below(3) == 0) {
                        append_utf8(word, 'a' + rng.below(26));
                    } else {
                        append_utf8(word, 0x1F300 + rng.below(0x350));
                        if (rng.below(4) == 0) append_utf8(word, 0xFE0F);
                        if (rng.below(8) == 0) append_utf8(word, 0x200D);
                    }
                    break;
            }
        }
        const std::uint32_t r = rng.below(16);
        if (kind == script::cjk) {
            if (r == 0) append_utf8(word, 0x3002);  // 。
            if (r == 1) append_utf8(word, 0xFF0C);  // ，
            if (r == 2) word += '\n';
        } else {
            if (r == 0) word += '.';
            if (r == 1) word += ',';
            word += r == 2 ? '\n' : ' ';
        }
        if (text.size() + word.size() > MIB) break;
        text += word;
    }
    return text;
}

struct input {
    const char* name;
    std::string text;
};

const std::vector<input>& inputs() {
    static const std::vector<input> all = {
        {"ascii", make_text(script::ascii)},
        {"latin", make_text(script::latin)},
        {"greek_cyrillic", make_text(script::greek_cyrillic)},
        {"cjk", make_text(script::cjk)},
        {"emoji", make_text(script::emoji)},
        {"nickname64", "alice.in.wonderland-administrator_of_the_northern_accounts_00042"},
        {"nickname8", "bob.smit"},
        {"nickname_greek14", "\u03b1\u03bb\u03ad\u03be\u03b1\u03bd\u03b4"},  // 7 letters
        {"nickname_mixed31", "j\u00fcrgen.m\u00fcller-\u6771\u4eac-\U0001F600-42"},
        {"nickname_mixed64",
         "j\u00fcrgen.m\u00fcller-\u6771\u4eac-\U0001F600-\u03b1\u03bb\u03ad\u03be-"
         "\u0436\u0435\u043d\u044f-operator.000042-3"},  // 64 bytes
    };
    return all;
}

// ------------------------------------------------------------- agreement

// Every implementation accepts each input, refuses it with its last byte
// replaced by a lead byte left open, and (the printable ones alone) refuses
// it with a control byte put in the middle.
void check_agreement() {
    for (const input& in : inputs()) {
        std::string cut = in.text;
        cut.back() = '\xE2';
        std::string control = in.text;
        std::size_t middle = control.size() / 2;  // moved on to a character's start
        while (middle < control.size() && (control[middle] & 0xC0) == 0x80) ++middle;
        control.insert(middle, 1, '\x01');
        for (const implementation& impl : implementations()) {
            if (!impl.available) continue;
            const bool whole = impl.valid(in.text.data(), in.text.size());
            const bool broken = impl.valid(cut.data(), cut.size());
            const bool with_control = impl.valid(control.data(), control.size());
            if (!whole || broken || with_control != !impl.printable) {
                std::fprintf(stderr,
                             "utf8_bench: %s disagrees on %s (whole %d, cut %d, control %d)\n",
                             impl.name, in.name, whole, broken, with_control);
                std::abort();
            }
        }
    }
}

void run(benchmark::State& state, validator valid, const std::string* text) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(text->data());
        bool result = valid(text->data(), text->size());
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text->size()));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    for (const utf8_kernel kernel : corvane::detail::utf8_kernels) {
        kernel_checks[static_cast<int>(kernel)] = corvane::detail::utf8_kernel_check(kernel);
    }
#if CORVANE_BENCH_SIMDJSON
    const simdjson::implementation* haswell = simdjson::get_available_implementations()["haswell"];
    if (haswell != nullptr && haswell->supported_by_runtime_system()) simdjson_haswell = haswell;
    benchmark::AddCustomContext("simdjson kernel", simdjson::get_active_implementation()->name());
#endif
    check_agreement();
    benchmark::AddCustomContext("utf8_valid_n kernel", corvane::detail::utf8_kernel_name(
                                                           corvane::detail::utf8_chosen_kernel()));
    for (const input& in : inputs()) {
        for (const implementation& impl : implementations()) {
            if (!impl.available) continue;
            const std::string name = std::string(in.name) + "/" + impl.name;
            benchmark::RegisterBenchmark(name.c_str(), run, impl.valid, &in.text);
        }
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
