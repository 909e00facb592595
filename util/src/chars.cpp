#include <corvane/chars.hpp>

#include <cstring>

#include "utf8_paths.hpp"

namespace corvane {

bool char_is_space(char c) noexcept { return c == ' '; }

bool char_is_blank(int c) noexcept { return c == '\t' || c == '\r' || c == ' '; }

bool utf8_valid(const char* text) noexcept { return utf8_valid_n(text, std::strlen(text)); }

namespace detail {

namespace {

using utf8_kernel = bool (*)(const unsigned char* bytes, std::size_t length,
                             bool printable) noexcept;

utf8_kernel kernel_of(utf8_path path) noexcept {
#if CORVANE_UTF8_X86
    if (path == utf8_path::avx2) return utf8_check_avx2;
    if (path == utf8_path::ssse3) return utf8_check_ssse3;
#else
    (void)path;
#endif
    return utf8_check_scalar;
}

// The chosen kernel, found on the first call. Threads that race there all
// store the same pointer, so relaxed atomic access suffices. The compiler's
// atomic built-ins stand in for std::atomic here: libstdc++ 12 builds
// std::atomic::load on a memory-order operator that is not noexcept, and an
// unoptimised clang build then links the C++ exception runtime into every
// program that validates UTF-8 -- the tool among them.
utf8_kernel chosen_kernel = nullptr;

utf8_kernel current_kernel() noexcept {
    utf8_kernel kernel = __atomic_load_n(&chosen_kernel, __ATOMIC_RELAXED);
    if (kernel == nullptr) {
        kernel = kernel_of(utf8_chosen_path());
        __atomic_store_n(&chosen_kernel, kernel, __ATOMIC_RELAXED);
    }
    return kernel;
}

}  // namespace

const char* utf8_path_name(utf8_path path) noexcept {
    switch (path) {
        case utf8_path::ssse3:
            return "ssse3";
        case utf8_path::avx2:
            return "avx2";
        case utf8_path::scalar:
            break;
    }
    return "scalar";
}

bool utf8_path_available(utf8_path path) noexcept {
    switch (path) {
        case utf8_path::scalar:
            return true;
#if CORVANE_UTF8_X86
        case utf8_path::ssse3:
            return cpu_has_ssse3();
        case utf8_path::avx2:
            return cpu_has_avx2();
#else
        case utf8_path::ssse3:
        case utf8_path::avx2:
            return false;
#endif
    }
    return false;
}

utf8_path utf8_chosen_path() noexcept {
    if (utf8_path_available(utf8_path::avx2)) return utf8_path::avx2;
    if (utf8_path_available(utf8_path::ssse3)) return utf8_path::ssse3;
    return utf8_path::scalar;
}

bool utf8_valid_with(utf8_path path, const char* bytes, std::size_t length) noexcept {
    if (!utf8_path_available(path)) path = utf8_path::scalar;
    return kernel_of(path)(reinterpret_cast<const unsigned char*>(bytes), length, false);
}

bool utf8_printable_with(utf8_path path, const char* bytes, std::size_t length) noexcept {
    if (!utf8_path_available(path)) path = utf8_path::scalar;
    return kernel_of(path)(reinterpret_cast<const unsigned char*>(bytes), length, true);
}

}  // namespace detail

// The rules are those of the scalar walk in utf8_scalar.cpp; the vector
// kernels give the same result for every input.
bool utf8_valid_n(const char* bytes, std::size_t length) noexcept {
    return detail::current_kernel()(reinterpret_cast<const unsigned char*>(bytes), length, false);
}

// Refuses control bytes other than TAB, LF and CR, and requires well-formed
// UTF-8 -- in one pass, with the result of the two in turn.
bool utf8_printable_n(const char* bytes, std::size_t length) noexcept {
    return detail::current_kernel()(reinterpret_cast<const unsigned char*>(bytes), length, true);
}

}  // namespace corvane
