// The account store: the `users` table, one statement or query at a time.
// Each operation opens the database it is handed (open_account_db: a file
// that cannot be opened safely ends the process with status 1), does its
// work on that one connection and closes it.
#pragma once

#include <cstddef>
#include <string_view>

#include "connection.hpp"

namespace corvane::userdb {

// Size of the buffer a statement is formatted into, terminator included.
inline constexpr std::size_t STATEMENT_LIMIT = 1024;

// Formats one statement, runs it and returns the number of rows it changed.
// A database error is written as "ERROR: ..."; a statement that does not fit
// STATEMENT_LIMIT is refused before the database is opened, and a `users`
// that is not an ordinary table before the statement runs ("ERROR: users is
// not a table", see users_is_changeable); then 0 is returned.
int run_statement(const database& db, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// A new heap copy of `text` with every single quote doubled; the caller
// frees it. Ends the process with status 1 when memory runs out.
[[nodiscard]] char* escape_quotes(const char* text);

// Creates the users table. True when the table is there afterwards: made
// now, or there before (then "ERROR: table users already exists" has been
// written). Any other failure is written as "ERROR: ..." and gives false.
[[nodiscard]] bool create_users_table(const database& db);

// Calls `print` with the `credentials` and the `nickname` column of every
// account, by name whatever the table's shape, in the order the table keeps
// them, until it returns false. Each value comes whole, a NUL inside
// included; a NULL comes as the empty text. False, with nothing written,
// when the query fails (a table without those columns too) or `print` stops
// it; the rows printed before stay printed; errno is as `print` left it
// when it stopped the listing.
using account_printer = bool (*)(std::string_view credentials, std::string_view nickname);
[[nodiscard]] bool for_each_account(const database& db, account_printer print);

}  // namespace corvane::userdb
