// base32 encode and decode: corvane's codec against the straightforward
// bit-offset codec it must match (base32_reference.hpp) and, when it is
// installed, libbaseencode. Inputs are 64 bytes and 1 MiB of random bytes
// without zero bytes, which libbaseencode takes for the end of its input.
//
// Each input is checked once, before it is measured: every encoder must
// give the same text (libbaseencode's followed by its "=" fill) and every decoder
// the input back, also from the text wrapped in lines, or the program
// aborts.
#include <corvane/base32.hpp>

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base32_reference.hpp"

#ifdef CORVANE_HAVE_BASEENCODE
extern "C" {
#include <baseencode.h>
#include <stddef.h>  // baseencode.h uses size_t without including it
}
#endif

namespace {

struct b32_input {
    std::vector<std::uint8_t> plain;
    std::string text;     // the encoding, without fill
    std::string padded;   // the same with the "=" fill of RFC 4648
    std::string wrapped;  // the encoding with a line feed after every 76 characters
};

std::size_t encoded_length(std::size_t count) { return (8 * count + 4) / 5; }

[[noreturn]] void disagree(const char* what, std::size_t size) {
    std::fprintf(stderr, "base32 benchmark: %s disagrees on %zu bytes\n", what, size);
    std::abort();
}

b32_input make_input(std::size_t size) {
    b32_input input;
    std::mt19937 random(static_cast<std::uint32_t>(size));
    std::uniform_int_distribution<unsigned> byte(1, 255);
    input.plain.resize(size);
    for (auto& b : input.plain) b = static_cast<std::uint8_t>(byte(random));

    std::string text(encoded_length(size) + 1, '#');
    corvane::reference::b32_encode(input.plain.data(), size, text.data());
    text.pop_back();
    input.text = text;
    input.padded = text + std::string((8 - text.size() % 8) % 8, '=');
    for (std::size_t at = 0; at < text.size(); at += 76)
        input.wrapped += text.substr(at, 76) + '\n';

    std::string ours(encoded_length(size) + 1, '#');
    corvane::b32_encode(input.plain.data(), size, ours.data());
    ours.pop_back();
    if (ours != input.text) disagree("corvane's encoder", size);

    std::vector<std::uint8_t> back(size, 0xA5);
    corvane::b32_decode(input.text.c_str(), back.data(), size);
    if (back != input.plain) disagree("corvane's decoder", size);
    std::vector<std::uint8_t> back_ref(size, 0xA5);
    corvane::reference::b32_decode(input.text.c_str(), back_ref.data(), size);
    if (back_ref != input.plain) disagree("the reference decoder", size);
    corvane::b32_decode(input.wrapped.c_str(), back.data(), size);
    corvane::reference::b32_decode(input.wrapped.c_str(), back_ref.data(), size);
    if (back != input.plain || back_ref != input.plain) disagree("decoding wrapped text", size);

#ifdef CORVANE_HAVE_BASEENCODE
    baseencode_error_t error = SUCCESS;
    char* theirs = base32_encode(input.plain.data(), size, &error);
    if (error != SUCCESS || theirs == nullptr || input.padded != theirs) {
        disagree("libbaseencode's encoder", size);
    }
    std::free(theirs);
    unsigned char* decoded = base32_decode(input.padded.c_str(), input.padded.size(), &error);
    if (error != SUCCESS || decoded == nullptr ||
        std::memcmp(decoded, input.plain.data(), size) != 0) {
        disagree("libbaseencode's decoder", size);
    }
    std::free(decoded);
#endif
    return input;
}

// Made and checked once per size, however often a benchmark starts.
const b32_input& input_of(std::size_t size) {
    static std::map<std::size_t, b32_input> inputs;
    auto found = inputs.find(size);
    if (found == inputs.end()) found = inputs.emplace(size, make_input(size)).first;
    return found->second;
}

std::size_t size_of(const benchmark::State& state) {
    return static_cast<std::size_t>(state.range(0));
}

using encode_fn = void (*)(const std::uint8_t*, std::uint64_t, char*);
using decode_fn = void (*)(const char*, std::uint8_t*, std::size_t);

void encode_with(benchmark::State& state, encode_fn encode) {
    const b32_input& input = input_of(size_of(state));
    std::string out(input.text.size() + 1, '\0');
    for (auto _ : state) {
        encode(input.plain.data(), input.plain.size(), out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(input.plain.size()));
}

void decode_with(benchmark::State& state, decode_fn decode, bool wrapped = false) {
    const b32_input& input = input_of(size_of(state));
    const std::string& text = wrapped ? input.wrapped : input.text;
    std::vector<std::uint8_t> out(input.plain.size());
    for (auto _ : state) {
        decode(text.c_str(), out.data(), out.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(input.plain.size()));
}

void BM_b32_encode_corvane(benchmark::State& state) { encode_with(state, corvane::b32_encode); }
void BM_b32_encode_reference(benchmark::State& state) {
    encode_with(state, corvane::reference::b32_encode);
}
void BM_b32_decode_corvane(benchmark::State& state) { decode_with(state, corvane::b32_decode); }
void BM_b32_decode_reference(benchmark::State& state) {
    decode_with(state, corvane::reference::b32_decode);
}

// Lines of 76 characters end in the middle of an 8-character block, so
// every line feed sends the decoder to its character-by-character path.
void BM_b32_decode_wrapped_corvane(benchmark::State& state) {
    decode_with(state, corvane::b32_decode, true);
}
void BM_b32_decode_wrapped_reference(benchmark::State& state) {
    decode_with(state, corvane::reference::b32_decode, true);
}

constexpr std::int64_t SMALL = 64;
constexpr std::int64_t LARGE = 1 << 20;

BENCHMARK(BM_b32_encode_corvane)->Arg(SMALL)->Arg(LARGE);
BENCHMARK(BM_b32_encode_reference)->Arg(SMALL)->Arg(LARGE);
BENCHMARK(BM_b32_decode_corvane)->Arg(SMALL)->Arg(LARGE);
BENCHMARK(BM_b32_decode_reference)->Arg(SMALL)->Arg(LARGE);
BENCHMARK(BM_b32_decode_wrapped_corvane)->Arg(LARGE);
BENCHMARK(BM_b32_decode_wrapped_reference)->Arg(LARGE);

#ifdef CORVANE_HAVE_BASEENCODE
// libbaseencode allocates its result on every call; freeing it is part of
// the measured work, as it is for its users.
void BM_b32_encode_baseencode(benchmark::State& state) {
    const b32_input& input = input_of(size_of(state));
    for (auto _ : state) {
        baseencode_error_t error = SUCCESS;
        char* text = base32_encode(input.plain.data(), input.plain.size(), &error);
        benchmark::DoNotOptimize(text);
        std::free(text);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(input.plain.size()));
}

// libbaseencode is given the text with its fill, the form it produces.
void BM_b32_decode_baseencode(benchmark::State& state) {
    const b32_input& input = input_of(size_of(state));
    for (auto _ : state) {
        baseencode_error_t error = SUCCESS;
        unsigned char* bytes = base32_decode(input.padded.c_str(), input.padded.size(), &error);
        benchmark::DoNotOptimize(bytes);
        std::free(bytes);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(input.plain.size()));
}

BENCHMARK(BM_b32_encode_baseencode)->Arg(SMALL)->Arg(LARGE);
BENCHMARK(BM_b32_decode_baseencode)->Arg(SMALL)->Arg(LARGE);
#endif

}  // namespace
