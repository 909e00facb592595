// Every UTF-8 kernel this CPU can run, and utf8_valid_n, utf8_printable_n
// and utf8_valid, against the independent reference walk, on arbitrary
// bytes in an exact-size heap buffer.
#include <corvane/chars.hpp>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "utf8_kernels.hpp"
#include "utf8_reference.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy lets AddressSanitizer catch a read past the run.
    const auto bytes = std::make_unique<char[]>(size);
    if (size > 0) std::memcpy(bytes.get(), data, size);
    const auto* run = reinterpret_cast<const unsigned char*>(bytes.get());

    const bool valid = corvane::reference::utf8_valid(bytes.get(), size);
    const bool printable = corvane::reference::utf8_printable(bytes.get(), size);
    if (corvane::utf8_valid_n(bytes.get(), size) != valid) std::abort();
    if (corvane::utf8_printable_n(bytes.get(), size) != printable) std::abort();
    for (const auto kernel : corvane::detail::utf8_kernels) {
        const corvane::detail::utf8_check check = corvane::detail::utf8_kernel_check(kernel);
        if (check == nullptr) continue;
        if (check(run, size, false) != valid || check(run, size, true) != printable) std::abort();
    }

    // The terminated form sees the bytes before the first NUL.
    const auto terminated = std::make_unique<char[]>(size + 1);
    if (size > 0) std::memcpy(terminated.get(), data, size);
    terminated[size] = '\0';
    const std::size_t length = std::strlen(terminated.get());
    if (corvane::utf8_valid(terminated.get()) !=
        corvane::reference::utf8_valid(terminated.get(), length)) {
        std::abort();
    }
    return 0;
}
