// `check`: whether an account file is sound, read without changing it.
//
// Judged in turn: SQLite's own integrity check of the file; the `users`
// table (there, an ordinary table, with the columns nickname, password and
// credentials); every row, held to the rules `add` applies (nickname and
// password text within their limits, the class one of the eight words); and
// no two rows whose nicknames are the same bytes, whatever their storage
// class. Each problem is one line on standard output:
//
//   file: row 12 missing from index sqlite_autoindex_users_1
//   file: users has no column credentials
//   row 7, nickname " bob": User name cannot start with white space.
//   row 9, nickname x'626f62': User name is not text but a blob.
//   row 9, nickname x'626f62': User name is the same as in row 4.
//
// A row is named by its rowid; its nickname is shown in double quotes as
// `list` shows it (filtered on a terminal, exact to a pipe or a file), or,
// when it is not text, as an SQL literal (x'...', a number, NULL), so that
// the two cannot be mistaken for each other. A password is never shown.
#pragma once

#include "connection.hpp"

namespace corvane::userdb {

// Checks the file `db` names and writes its problems. 0 when it found none;
// 1 when it found one, or when the file could not be read (then "ERROR:
// ..." on standard error, after the problems found before). A file that
// does not exist is not created: "Unable to open database: ..." ends the
// process with status 1, as for every command.
[[nodiscard]] int check_account_file(const database& db);

}  // namespace corvane::userdb
