#include <corvane/chars.hpp>

#include <cstring>

#include "utf8_kernels.hpp"

namespace corvane {

bool char_is_space(char c) noexcept { return c == ' '; }

bool char_is_blank(int c) noexcept { return c == '\t' || c == '\r' || c == ' '; }

bool utf8_valid(const char* text) noexcept { return utf8_valid_n(text, std::strlen(text)); }

namespace detail {

namespace {

// The kernel's function, whether or not this CPU can run it.
utf8_check check_of(utf8_kernel kernel) noexcept {
#if CORVANE_UTF8_X86
    switch (kernel) {
        case utf8_kernel::ssse3:
            return utf8_check_ssse3;
        case utf8_kernel::avx2:
            return utf8_check_avx2;
        case utf8_kernel::avx512:
            return utf8_check_avx512;
        case utf8_kernel::scalar:
            break;
    }
#else
    (void)kernel;
#endif
    return utf8_check_scalar;
}

// The kernel of the public functions, chosen on their first call: a run
// that validates nothing never asks the CPU. Threads that race there all
// store the same pointer, so relaxed atomic access suffices. The compiler's
// atomic built-ins stand in for std::atomic here: libstdc++ 12 builds
// std::atomic::load on a memory-order operator that is not noexcept, and an
// unoptimised clang build then links the C++ exception runtime into every
// program that validates UTF-8 -- the tool among them.
utf8_check chosen_check = nullptr;

utf8_check current_check() noexcept {
    utf8_check check = __atomic_load_n(&chosen_check, __ATOMIC_RELAXED);
    if (check == nullptr) {
        check = check_of(utf8_chosen_kernel());
        __atomic_store_n(&chosen_check, check, __ATOMIC_RELAXED);
    }
    return check;
}

}  // namespace

const char* utf8_kernel_name(utf8_kernel kernel) noexcept {
    switch (kernel) {
        case utf8_kernel::ssse3:
            return "ssse3";
        case utf8_kernel::avx2:
            return "avx2";
        case utf8_kernel::avx512:
            return "avx512";
        case utf8_kernel::scalar:
            break;
    }
    return "scalar";
}

utf8_check utf8_kernel_check(utf8_kernel kernel) noexcept {
#if CORVANE_UTF8_X86
    const cpu_features cpu = detect_cpu_features();
    const bool runs =
        kernel == utf8_kernel::scalar || (kernel == utf8_kernel::ssse3 && cpu.ssse3) ||
        (kernel == utf8_kernel::avx2 && cpu.avx2) || (kernel == utf8_kernel::avx512 && cpu.avx512);
#else
    const bool runs = kernel == utf8_kernel::scalar;
#endif
    return runs ? check_of(kernel) : nullptr;
}

utf8_kernel utf8_chosen_kernel() noexcept {
#if CORVANE_UTF8_X86
    const cpu_features cpu = detect_cpu_features();
    if (cpu.avx512) return utf8_kernel::avx512;
    if (cpu.avx2) return utf8_kernel::avx2;
    if (cpu.ssse3) return utf8_kernel::ssse3;
#endif
    return utf8_kernel::scalar;
}

}  // namespace detail

// The rules are those of the scalar walk in utf8_scalar.cpp; the vector
// kernels give the same result for every input.
bool utf8_valid_n(const char* bytes, std::size_t length) noexcept {
    return detail::current_check()(reinterpret_cast<const unsigned char*>(bytes), length, false);
}

// Refuses control bytes other than TAB, LF and CR, and requires well-formed
// UTF-8 -- in one pass, with the result of the two in turn.
bool utf8_printable_n(const char* bytes, std::size_t length) noexcept {
    return detail::current_check()(reinterpret_cast<const unsigned char*>(bytes), length, true);
}

}  // namespace corvane
