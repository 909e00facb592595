// What makes an account valid, for every command that writes one: one
// judgement of the fields given, and the checks that end the run on its
// verdict.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace corvane::userdb {

// The longest accepted nickname and password, in bytes.
inline constexpr std::size_t NICKNAME_LIMIT = 64;
inline constexpr std::size_t PASSWORD_LIMIT = 64;

// The class of an account given none.
inline constexpr std::string_view DEFAULT_CLASS = "user";

// The fields of an account to judge; a field left out is not judged. A
// field read from standard input may hold a NUL byte, which no stored text
// can carry: it breaks the control-byte rule of a nickname and the
// encoding rule of a password.
struct account_fields {
    std::optional<std::string_view> nickname = {};
    std::optional<std::string_view> password = {};
    std::optional<std::string_view> class_word = {};
};

struct account_verdict {
    const char* fault = nullptr;        // the message of the first rule broken, or null
    const char* credentials = nullptr;  // without a fault, the canonical class word, if judged
};

// The judgement: the nickname first, then the password, then the class
// word. The class word returned is a constant of this unit, never freed.
[[nodiscard]] account_verdict judge_account(const account_fields& fields);

// Returns the canonical class of a valid account, or writes the first
// fault's message to standard error and ends the process with status 1.
const char* check_account(const account_fields& fields);

inline void check_nickname(std::string_view nickname) { check_account({.nickname = nickname}); }
inline void check_password(std::string_view password) { check_account({.password = password}); }
inline const char* check_credentials(std::string_view word) {
    return check_account({.class_word = word});
}

}  // namespace corvane::userdb
