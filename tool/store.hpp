// The account store: the `users` table and every use of the database. Each
// operation opens the file named on the command line, does its work on that
// one connection and closes it; nothing else in the tool sees SQLite.
//
// Opening refuses a database whose directory every user may write (another
// user could plant its journal there and read the passwords written into
// it), takes the name as a plain file name (never as a URI), and sets the
// connection up for durable commits and against crafted schemas. A file that
// cannot be opened is reported as "Unable to open database: ..." and ends
// the process with status 1.
#pragma once

#include <cstddef>
#include <string_view>

namespace corvane::userdb {

// Size of the buffer a statement is formatted into, terminator included.
inline constexpr std::size_t STATEMENT_LIMIT = 1024;

// Formats one statement, runs it and returns the number of rows it changed.
// A database error is written as "ERROR: ..."; a statement that does not fit
// STATEMENT_LIMIT is refused before the database is opened, and 0 is
// returned.
int run_statement(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A new heap copy of `text` with every single quote doubled; the caller
// frees it. Ends the process with status 1 when memory runs out.
[[nodiscard]] char* escape_quotes(const char* text);

// Creates the users table. True when the table is there afterwards: made
// now, or there before (then "ERROR: table users already exists" has been
// written). Any other failure is written as "ERROR: ..." and gives false.
[[nodiscard]] bool create_users_table();

// Calls `print` with the class and the nickname of every account, in the
// order the database keeps them, until it returns false; a NULL comes as the
// empty text. False, with nothing written, when the query fails, `print`
// stops it or a row has fewer than three columns; the rows printed before
// stay printed.
using account_printer = bool (*)(const char* credentials, const char* nickname);
[[nodiscard]] bool for_each_account(account_printer print);

// Adding many accounts in one transaction, all or nothing.
//
// import_begin opens the database, takes the write lock at once and
// prepares the INSERT; on failure it writes "ERROR: ..." and returns false.
// import_account adds one account with its values bound as parameters. It
// returns null on success, or the database's message (valid until the next
// call); `transaction_lost` is then set when SQLite has rolled the whole
// transaction back (a full disk, an I/O error), after which nothing more may
// be added. import_finish commits when `commit` is true and otherwise rolls
// back; it writes "ERROR: ..." and returns false when the commit fails.
[[nodiscard]] bool import_begin();
[[nodiscard]] const char* import_account(std::string_view nickname, std::string_view password,
                                         const char* credentials, bool* transaction_lost);
[[nodiscard]] bool import_finish(bool commit);

}  // namespace corvane::userdb
