// The account field checks. A failed check writes its fixed message to
// standard error and ends the process with status 1; it never returns a
// failure. Every check runs before the database is opened.
#pragma once

#include <cstddef>
#include <string_view>

namespace corvane::userdb {

// The longest accepted nickname and password, in bytes.
inline constexpr std::size_t NICKNAME_LIMIT = 64;
inline constexpr std::size_t PASSWORD_LIMIT = 64;

// The message for a class word that is none of the eight.
inline constexpr const char* CREDENTIALS_FAULT =
    "Invalid user credentials. Must be one of: 'bot', 'ubot', 'opbot', 'opubot', "
    "'admin', 'super', 'op' or 'user'\n";

// The message for the first rule a field breaks, or null when it passes.
// These judge only; the check_ functions below act on the judgement. A
// field read from standard input may hold a NUL byte, which no stored text
// can carry: it breaks the control-byte rule of a nickname and the
// encoding rule of a password.
[[nodiscard]] const char* nickname_fault(std::string_view nickname);
[[nodiscard]] const char* password_fault(std::string_view password);
// The canonical class word equal to `word`, or null when there is none.
[[nodiscard]] const char* find_credentials(std::string_view word);

void check_nickname(std::string_view nickname);
void check_password(std::string_view password);

// Returns the canonical class word equal to `word` (a constant owned by this
// unit, never freed by the caller).
[[nodiscard]] const char* check_credentials(std::string_view word);

}  // namespace corvane::userdb
