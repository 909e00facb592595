// The account store: the `users` table, the one connection slot, and the
// execution of one statement per connection.
#pragma once

#include <cstddef>

struct sqlite3;

namespace corvane::userdb {

// Size of the buffer a statement is formatted into, terminator included.
inline constexpr std::size_t STATEMENT_LIMIT = 1024;

#define CORVANE_SCHEMA_STATEMENT                                                                \
    "CREATE TABLE users(nickname CHAR NOT NULL UNIQUE,password CHAR NOT NULL,credentials CHAR " \
    "NOT NULL DEFAULT 'user',created TIMESTAMP DEFAULT (DATETIME('NOW')),activity TIMESTAMP "   \
    "DEFAULT (DATETIME('NOW')));"

// The one open connection, from an open to its close.
extern sqlite3* account_db;

// Opens the database named on the command line into account_db. A file the
// tool creates is readable and writable by its owner only: it holds
// passwords. On failure writes "Unable to open database: ..." and ends the
// process with status 1.
void open_account_db();

// Formats one statement, runs it on a fresh connection and returns the
// number of rows it changed. A database error is written as "ERROR: ...";
// a statement that does not fit STATEMENT_LIMIT is refused before the
// database is opened, and 0 is returned.
int run_statement(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A new heap copy of `text` with every single quote doubled; the caller
// frees it. Ends the process with status 1 when memory runs out.
[[nodiscard]] char* escape_quotes(const char* text);

}  // namespace corvane::userdb
