// The input of an import: one account a line, NICKNAME<TAB>PASSWORD or
// NICKNAME<TAB>PASSWORD<TAB>CLASS, lines ended by a line feed or by a
// carriage return and a line feed. Read in
// blocks and kept only as far as any field can be valid, so memory stays
// flat however many or however long the lines are.
#pragma once

#include <cstddef>
#include <string_view>

#include "checks.hpp"

namespace corvane::userdb {

struct account_line {
    // As much of a field as is needed to judge it: one byte over the
    // longest valid one.
    static constexpr std::size_t KEEP = PASSWORD_LIMIT + 1;
    static_assert(KEEP > NICKNAME_LIMIT);

    struct field {
        char bytes[KEEP];
        std::size_t length;  // the bytes kept: all of the field, or KEEP
    };

    unsigned long long number;  // counted from 1, empty lines included
    unsigned tabs;              // how many the line holds, counted up to 3
    field fields[3];            // nickname, password, class

    [[nodiscard]] std::string_view text(std::size_t index) const {
        return {fields[index].bytes, fields[index].length};
    }
};

class account_reader {
public:
    explicit account_reader(int descriptor) : descriptor_(descriptor) {}

    // The next line that is not empty. False at the end of the input, or
    // when reading failed: then read_error() is the error number.
    bool next(account_line& line);
    [[nodiscard]] int read_error() const { return read_error_; }

private:
    bool fill();

    int descriptor_;
    int read_error_ = 0;
    unsigned long long lines_ = 0;
    const char* at_ = buffer_;
    const char* end_ = buffer_;
    char buffer_[1 << 16];
};

}  // namespace corvane::userdb
