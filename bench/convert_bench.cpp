// parse_decimal against std::from_chars on the same decimal texts: 1024
// values of 1 to 10 digits, a third of them negative, all within the 32-bit
// range so that both parsers accept every text. The texts are checked once
// before they are measured: both must give the same value for each, or the
// program aborts.
#include <corvane/convert.hpp>

#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace {

std::vector<std::string> make_texts() {
    std::mt19937 random(1024);
    std::uniform_int_distribution<int> digits(1, 10);
    std::uniform_int_distribution<int> sign(0, 2);
    std::vector<std::string> texts;
    while (texts.size() < 1024) {
        std::string text = sign(random) == 0 ? "-" : "";
        const int count = digits(random);
        for (int i = 0; i < count; ++i) text += static_cast<char>('0' + random() % 10);
        const long long value = std::stoll(text);
        if (value < INT32_MIN || value > INT32_MAX) continue;
        texts.push_back(text);
    }
    for (const std::string& text : texts) {
        std::int32_t ours = 0;
        std::int32_t theirs = 1;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), theirs);
        if (!corvane::parse_decimal(text.c_str(), &ours) || error != std::errc{} ||
            end != text.data() + text.size() || ours != theirs) {
            std::fprintf(stderr, "convert benchmark: parsers disagree on \"%s\"\n", text.c_str());
            std::abort();
        }
    }
    return texts;
}

const std::vector<std::string>& texts() {
    static const std::vector<std::string> made = make_texts();
    return made;
}

void BM_parse_decimal_corvane(benchmark::State& state) {
    const auto& all = texts();
    for (auto _ : state) {
        std::uint32_t sum = 0;
        for (const std::string& text : all) {
            std::int32_t value = 0;
            if (corvane::parse_decimal(text.c_str(), &value))
                sum += static_cast<std::uint32_t>(value);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(all.size()));
}

void BM_parse_decimal_from_chars(benchmark::State& state) {
    const auto& all = texts();
    for (auto _ : state) {
        std::uint32_t sum = 0;
        for (const std::string& text : all) {
            std::int32_t value = 0;
            const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
            if (result.ec == std::errc{}) sum += static_cast<std::uint32_t>(value);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(all.size()));
}

BENCHMARK(BM_parse_decimal_corvane);
BENCHMARK(BM_parse_decimal_from_chars);

}  // namespace
