// The account field checks: what makes an account valid, for add and for
// each line of an import alike. The *_fault functions judge and return the
// message; the check_ functions act on the judgement: a failed check writes
// its fixed message to standard error and ends the process with status 1.
#pragma once

#include <cstddef>
#include <string_view>

namespace corvane::userdb {

// The longest accepted nickname and password, in bytes.
inline constexpr std::size_t NICKNAME_LIMIT = 64;
inline constexpr std::size_t PASSWORD_LIMIT = 64;
// One byte over the longest valid field: as much of a field read from
// standard input as is needed to judge it.
inline constexpr std::size_t FIELD_KEEP = PASSWORD_LIMIT + 1;
static_assert(FIELD_KEEP > NICKNAME_LIMIT);

// The class of an account given none.
inline constexpr std::string_view DEFAULT_CLASS = "user";

// The message for a class word that is none of the eight.
inline constexpr const char* CREDENTIALS_FAULT =
    "Invalid user credentials. Must be one of: 'bot', 'ubot', 'opbot', 'opubot', "
    "'admin', 'super', 'op' or 'user'\n";

// The message for the first rule a field breaks, or null when it passes. A
// field read from standard input may hold a NUL byte, which no stored text
// can carry: it breaks the control-byte rule of a nickname and the
// encoding rule of a password.
[[nodiscard]] const char* nickname_fault(std::string_view nickname);
[[nodiscard]] const char* password_fault(std::string_view password);
// The canonical class word equal to `word`, or null when there is none.
[[nodiscard]] const char* find_credentials(std::string_view word);

// The message for the first fault of an account, the nickname judged first,
// then the password, then the class word; or null, with the canonical class
// in `credentials`.
[[nodiscard]] const char* account_fault(std::string_view nickname, std::string_view password,
                                        std::string_view class_word, const char** credentials);

// Returns the canonical class of a valid account; see account_fault.
const char* check_account(std::string_view nickname, std::string_view password,
                          std::string_view class_word);

void check_nickname(std::string_view nickname);
void check_password(std::string_view password);

// Returns the canonical class word equal to `word` (a constant owned by this
// unit, never freed by the caller).
[[nodiscard]] const char* check_credentials(std::string_view word);

}  // namespace corvane::userdb
