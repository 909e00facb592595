// The account store: the `users` table and every use of the database. Each
// operation opens the file named on the command line, does its work on that
// one connection and closes it; nothing else in the tool sees SQLite.
//
// Opening refuses a database whose directory every user may write (another
// user could plant its journal there and read the passwords written into
// it), takes the name as a plain file name (never as a URI), and sets the
// connection up for durable commits, against crafted schemas and against
// damaged pages (each page's cells are checked as it is loaded). A file that
// cannot be opened is reported as "Unable to open database: ..." and ends
// the process with status 1.
#pragma once

#include <bit>
#include <cstddef>
#include <string_view>

#include "checks.hpp"

struct sqlite3_stmt;

namespace corvane::userdb {

// Size of the buffer a statement is formatted into, terminator included.
inline constexpr std::size_t STATEMENT_LIMIT = 1024;

// Formats one statement, runs it and returns the number of rows it changed.
// A database error is written as "ERROR: ..."; a statement that does not fit
// STATEMENT_LIMIT is refused before the database is opened, and a `users`
// that is not an ordinary table before the statement runs ("ERROR: users is
// not a table"); then 0 is returned.
int run_statement(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A new heap copy of `text` with every single quote doubled; the caller
// frees it. Ends the process with status 1 when memory runs out.
[[nodiscard]] char* escape_quotes(const char* text);

// Creates the users table. True when the table is there afterwards: made
// now, or there before (then "ERROR: table users already exists" has been
// written). Any other failure is written as "ERROR: ..." and gives false.
[[nodiscard]] bool create_users_table();

// Calls `print` with the `credentials` and the `nickname` column of every
// account, by name whatever the table's shape, in the order the table keeps
// them, until it returns false. Each value comes whole, a NUL inside
// included; a NULL comes as the empty text. False, with nothing written,
// when the query fails (a table without those columns too) or `print` stops
// it; the rows printed before stay printed.
using account_printer = bool (*)(std::string_view credentials, std::string_view nickname);
[[nodiscard]] bool for_each_account(account_printer print);

// Adding many accounts in one transaction, all or nothing.
//
// open() opens the database, takes the write lock at once (before any input
// is read) and prepares the INSERTs; on failure it writes "ERROR: ..." and
// returns false. add() keeps a copy of the account and sends the accounts
// to the database IMPORT_BATCH at a time in one multi-row INSERT (one
// statement step per row was the import's main cost); flush() sends what
// add() holds, in pieces of a power of two rows, so that the caller reports
// a later line only after every earlier one. A piece the database refuses
// is undone and sent again one row at a time up to the row refused, so the
// report names exactly the lines refused; each goes to the reporter, in
// input order, with the database's message (valid during the call).
//
// add() and flush() return false once the transaction is gone: SQLite rolled
// it back (a full disk, an I/O error; the first line of the piece that met
// it has been reported), after which nothing more may be added, since each
// INSERT would then commit on its own. finish(true) sends what is held and
// commits when no line was refused; it writes "ERROR: ..." and returns
// false when the commit fails. finish(false) rolls back. A session the
// process leaves without finish() (ended by exit or killed) never commits:
// SQLite rolls it back from its journal. (No destructor does it: the
// cleanup path of one would link the C++ exception runtime into the tool.)
//
// Measured batches of 32 to 256 rows: 128 took about 2 % less time than 64
// and 6 % less than 32; 256 took 1-2 % less again but made an import with
// bad lines about 13 % slower, since a refused batch is sent again.
inline constexpr unsigned IMPORT_BATCH = 128;

class account_import {
public:
    using refusal_reporter = void (*)(unsigned long long line, const char* message);

    explicit account_import(refusal_reporter report) : report_(report) {}
    account_import(const account_import&) = delete;
    account_import& operator=(const account_import&) = delete;

    [[nodiscard]] bool open();
    // The fields have passed the checks: at most NICKNAME_LIMIT and
    // PASSWORD_LIMIT bytes; `credentials` is a canonical class word.
    bool add(unsigned long long line, std::string_view nickname, std::string_view password,
             const char* credentials);
    bool flush();
    [[nodiscard]] bool finish(bool commit);

private:
    struct held_account {
        unsigned long long line;
        const char* credentials;
        std::size_t nickname_length;
        std::size_t password_length;
        char nickname[NICKNAME_LIMIT];
        char password[PASSWORD_LIMIT];
    };
    // One INSERT for each power of two rows up to IMPORT_BATCH.
    static constexpr unsigned INSERT_SIZES = std::bit_width(IMPORT_BATCH);
    static_assert(std::has_single_bit(IMPORT_BATCH));

    bool insert_rows(unsigned first, unsigned end);
    int insert_piece(unsigned first, unsigned size);
    int run(sqlite3_stmt* statement);
    bool refused(unsigned row);
    bool stop(unsigned row);
    void close();

    refusal_reporter report_;
    bool open_ = false;
    bool lost_ = false;
    unsigned long long refusals_ = 0;
    unsigned held_ = 0;
    sqlite3_stmt* inserts_[INSERT_SIZES] = {};
    sqlite3_stmt* savepoint_ = nullptr;
    sqlite3_stmt* release_ = nullptr;
    sqlite3_stmt* undo_ = nullptr;
    held_account accounts_[IMPORT_BATCH];
};

}  // namespace corvane::userdb
