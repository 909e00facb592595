// The account field checks. A failed check writes its fixed message to
// standard error and ends the process with status 1; it never returns a
// failure. Every check runs before the database is opened.
#pragma once

#include <cstddef>

namespace corvane::userdb {

// The longest accepted nickname and password, in bytes.
inline constexpr std::size_t NICKNAME_LIMIT = 64;
inline constexpr std::size_t PASSWORD_LIMIT = 64;

// The message for the first rule a field breaks, or null when it passes.
// These judge only; the check_ functions below act on the judgement.
[[nodiscard]] const char* nickname_fault(const char* nickname);
[[nodiscard]] const char* password_fault(const char* password);
// The canonical class word equal to `word`, or null when there is none.
[[nodiscard]] const char* find_credentials(const char* word);

void check_nickname(const char* nickname);
void check_password(const char* password);

// Returns the canonical class word equal to `word` (a constant owned by this
// unit, never freed by the caller).
[[nodiscard]] const char* check_credentials(const char* word);

}  // namespace corvane::userdb
