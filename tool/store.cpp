#include "store.hpp"

#include <sqlite3.h>

#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "invocation.hpp"
#include "messages.hpp"
#include "safe_directory.hpp"

namespace corvane::userdb {

namespace {

constexpr const char* SCHEMA_STATEMENT =
    "CREATE TABLE users(nickname CHAR NOT NULL UNIQUE,password CHAR NOT NULL,credentials CHAR "
    "NOT NULL DEFAULT 'user',created TIMESTAMP DEFAULT (DATETIME('NOW')),activity TIMESTAMP "
    "DEFAULT (DATETIME('NOW')));";

// The one open connection, from an open to its close.
sqlite3* account_db = nullptr;

[[noreturn]] void report_open_failure(int result) {
    fail("Unable to open database: %s (result=%d)\n", cli_context.database_path, result);
}

// Opens the database named on the command line into account_db, or ends the
// process with status 1.
void open_account_db() {
    path_buffer file{};
    path_buffer unsafe{};
    switch (locate_database(cli_context.database_path, file, unsafe)) {
        case placement::safe:
            break;
        case placement::unsafe:
            fail("Unsafe database directory: %s (writable by every user)\n", unsafe.text);
        case placement::unresolved:
            report_open_failure(SQLITE_CANTOPEN);
    }

    // The name is always a file name: as a URI, "file:x?vfs=unix-none" would
    // switch file locking off. The one thread needs no mutex in SQLite at
    // all. Both settings are library-wide and must come before SQLite
    // initialises, which the open below does.
    int result = sqlite3_config(SQLITE_CONFIG_SINGLETHREAD);
    if (result == SQLITE_OK) result = sqlite3_config(SQLITE_CONFIG_URI, 0);
    // For reading and writing, created if missing. The name was
    // resolved to the file itself: a link in its place now was put there
    // after the check, and is refused.
    if (result == SQLITE_OK) {
        result = sqlite3_open_v2(
            file.text, &account_db,
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
            nullptr);
    }
    // A crafted file must not make our statements call functions with side
    // effects through its triggers or views.
    if (result == SQLITE_OK) {
        result = sqlite3_db_config(account_db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    }
    if (result == SQLITE_OK) {
        result = sqlite3_db_config(account_db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    }
    // A page whose cells overlap or overrun it is reported as corrupt when it
    // is loaded, before a change is built on it and spreads the damage.
    if (result == SQLITE_OK) {
        result = sqlite3_exec(account_db, "PRAGMA cell_size_check=ON;", nullptr, nullptr, nullptr);
    }
    // Without -w a lock held elsewhere fails the command at once.
    if (result == SQLITE_OK && cli_context.wait_seconds > 0) {
        result = sqlite3_busy_timeout(account_db, cli_context.wait_seconds * 1000);
    }
    if (result != SQLITE_OK) report_open_failure(result);
}

void close_account_db() {
    sqlite3_close(account_db);
    account_db = nullptr;
}

// Runs `sql` on the open connection. Commits sync the directory after the
// journal is deleted, so a change that was acknowledged survives a power
// cut. The setting reads the schema, so it fails exactly as `sql` would,
// with the same message, and then `sql` is not run.
int execute(const char* sql, sqlite3_callback rows, void* context, char** error) {
    int result = sqlite3_exec(account_db, "PRAGMA synchronous=EXTRA;", nullptr, nullptr, error);
    if (result == SQLITE_OK) result = sqlite3_exec(account_db, sql, rows, context, error);
    return result;
}

// Writes "ERROR: TEXT" for a failed execute and releases the text.
void report_error(char* error) {
    report("ERROR: %s\n", error != nullptr ? error : sqlite3_errmsg(account_db));
    sqlite3_free(error);
}

// True when changes may go to `users`: it is an ordinary table, or there is
// none (the change then fails with SQLite's "no such table: users"). A view
// is refused, since SQLite does not count the rows its INSTEAD OF triggers
// change and a change made would be reported as failed; so is a virtual
// table, whose module, not SQLite's own storage, would keep the accounts.
// Both have no root page of their own. Refused, it writes "ERROR: users is
// not a table"; a schema that cannot be read, "ERROR: " and the database's
// message. One query of the schema (a trigger may be named users too) on the
// open connection, inside the caller's transaction if there is one.
[[nodiscard]] bool users_is_changeable() {
    sqlite3_stmt* query = nullptr;
    int result = sqlite3_prepare_v2(account_db,
                                    "SELECT rootpage FROM sqlite_master WHERE name = 'users' "
                                    "COLLATE NOCASE AND type <> 'trigger';",
                                    -1, &query, nullptr);
    if (result == SQLITE_OK) result = sqlite3_step(query);
    const bool changeable =
        result == SQLITE_DONE || (result == SQLITE_ROW && sqlite3_column_int64(query, 0) != 0);
    if (result != SQLITE_DONE && result != SQLITE_ROW) {
        report("ERROR: %s\n", sqlite3_errmsg(account_db));
    } else if (!changeable) {
        report("ERROR: users is not a table\n");
    }
    sqlite3_finalize(query);
    return changeable;
}

// The statements run here produce no rows; the callback only lets them run on.
int ignore_rows(void* /*context*/, int /*columns*/, char** /*values*/, char** /*names*/) {
    return 0;
}

// Column `column` of the current row, every byte of it; a NULL as the empty
// text. False when memory ran out turning the value into text.
bool column_text(sqlite3_stmt* row, int column, std::string_view* text) {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
    if (bytes == nullptr) {
        *text = {};
        return sqlite3_column_type(row, column) == SQLITE_NULL;
    }
    *text = {bytes, static_cast<std::size_t>(sqlite3_column_bytes(row, column))};
    return true;
}

// Prepares the INSERT of `rows` accounts, their values bound as parameters.
int prepare_insert(unsigned rows, sqlite3_stmt** insert) {
    constexpr std::string_view first =
        "INSERT INTO users (nickname, password, credentials) "
        "VALUES(?, ?, ?)";
    constexpr std::string_view next = ",(?, ?, ?)";
    char sql[first.size() + (IMPORT_BATCH - 1) * next.size() + 1];
    std::memcpy(sql, first.data(), first.size());
    std::size_t length = first.size();
    for (unsigned row = 1; row < rows; ++row, length += next.size()) {
        std::memcpy(sql + length, next.data(), next.size());
    }
    sql[length] = '\0';
    return sqlite3_prepare_v2(account_db, sql, static_cast<int>(length + 1), insert, nullptr);
}

}  // namespace

int run_statement(const char* format, ...) {
    char statement[STATEMENT_LIMIT];
    va_list values;
    va_start(values, format);
    const int length = std::vsnprintf(statement, sizeof statement, format, values);
    va_end(values);
    // A statement cut short must never run: it could be a different statement.
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof statement) {
        report("ERROR: statement too long\n");
        return 0;
    }

    open_account_db();
    char* error = nullptr;
    if (users_is_changeable() && execute(statement, ignore_rows, nullptr, &error) != SQLITE_OK) {
        report_error(error);
    }
    const int changed = sqlite3_changes(account_db);
    close_account_db();
    return changed;
}

char* escape_quotes(const char* text) {
    std::size_t quotes = 0;
    std::size_t length = 0;
    for (; text[length] != '\0'; ++length) {
        if (text[length] == '\'') ++quotes;
    }
    auto* copy = static_cast<char*>(std::malloc(length + quotes + 1));
    if (copy == nullptr) fail("ERROR: out of memory\n");
    char* out = copy;
    for (const char* in = text; *in != '\0'; ++in) {
        *out++ = *in;
        if (*in == '\'') *out++ = '\'';
    }
    *out = '\0';
    return copy;
}

bool create_users_table() {
    open_account_db();
    char* error = nullptr;
    bool there = execute(SCHEMA_STATEMENT, ignore_rows, nullptr, &error) == SQLITE_OK;
    if (!there) {
        // Running create again is how scripts make sure the table is there.
        there = error != nullptr && std::strcmp(error, "table users already exists") == 0;
        report_error(error);
    }
    close_account_db();
    return there;
}

bool for_each_account(account_printer print) {
    open_account_db();
    // By name, so that no other column (the password) is printed whatever
    // the order of the columns; from the table itself, in its own order,
    // never from an index that holds those columns.
    sqlite3_stmt* query = nullptr;
    int result = sqlite3_prepare_v2(
        account_db, "SELECT credentials, nickname FROM users NOT INDEXED;", -1, &query, nullptr);
    if (result == SQLITE_OK) {
        std::string_view credentials;
        std::string_view nickname;
        while ((result = sqlite3_step(query)) == SQLITE_ROW) {
            if (!column_text(query, 0, &credentials) || !column_text(query, 1, &nickname) ||
                !print(credentials, nickname)) {
                break;
            }
        }
    }
    sqlite3_finalize(query);
    close_account_db();
    return result == SQLITE_DONE;
}

bool account_import::open() {
    open_account_db();
    // IMMEDIATE takes the write lock now: a lock held elsewhere fails the
    // import before any input is read.
    char* error = nullptr;
    if (execute("BEGIN IMMEDIATE;", nullptr, nullptr, &error) != SQLITE_OK) {
        report_error(error);
        close_account_db();
        return false;
    }
    open_ = true;
    if (!users_is_changeable()) {
        close();
        return false;
    }
    int result = SQLITE_OK;
    for (unsigned size = 0; size < INSERT_SIZES && result == SQLITE_OK; ++size) {
        result = prepare_insert(1U << size, &inserts_[size]);
    }
    if (result == SQLITE_OK) {
        result = sqlite3_prepare_v2(account_db, "SAVEPOINT batch;", -1, &savepoint_, nullptr);
    }
    if (result == SQLITE_OK) {
        result = sqlite3_prepare_v2(account_db, "RELEASE batch;", -1, &release_, nullptr);
    }
    if (result == SQLITE_OK) {
        result = sqlite3_prepare_v2(account_db, "ROLLBACK TO batch;", -1, &undo_, nullptr);
    }
    if (result != SQLITE_OK) {
        report("ERROR: %s\n", sqlite3_errmsg(account_db));
        close();
        return false;
    }
    return true;
}

bool account_import::add(unsigned long long line, std::string_view nickname,
                         std::string_view password, const char* credentials) {
    if (lost_) return false;
    // Never cut a field short: that would store another account.
    if (nickname.size() > NICKNAME_LIMIT || password.size() > PASSWORD_LIMIT) std::abort();
    held_account& account = accounts_[held_++];
    account.line = line;
    account.credentials = credentials;
    account.nickname_length = nickname.size();
    account.password_length = password.size();
    std::memcpy(account.nickname, nickname.data(), nickname.size());
    std::memcpy(account.password, password.data(), password.size());
    return held_ < IMPORT_BATCH || flush();
}

bool account_import::flush() {
    if (lost_) return false;
    const unsigned held = held_;
    held_ = 0;
    lost_ = !insert_rows(0, held);
    return !lost_;
}

bool account_import::finish(bool commit) {
    if (!open_) return false;
    bool committed = false;
    if (commit && flush() && refusals_ == 0 && sqlite3_get_autocommit(account_db) == 0) {
        char* error = nullptr;
        committed = sqlite3_exec(account_db, "COMMIT;", nullptr, nullptr, &error) == SQLITE_OK;
        if (!committed) report_error(error);
    }
    // A transaction still open after a failed COMMIT is rolled back by the close.
    close();
    return committed;
}

// Sends accounts_[first, end) in pieces of a power of two rows, the largest
// first. A piece the database refuses is undone and sent again one row at a
// time up to the row refused; the rows after that one go on in pieces.
// False when the transaction is gone.
bool account_import::insert_rows(unsigned first, unsigned end) {
    while (first < end) {
        const unsigned size = std::bit_floor(end - first);
        if (size == 1) {
            if (insert_piece(first, 1) != SQLITE_DONE && !refused(first)) return false;
            ++first;
            continue;
        }
        // A failed statement undoes its own rows, unless the schema says
        // otherwise (ON CONFLICT FAIL keeps those before the one refused);
        // the savepoint undoes the whole piece either way.
        if (run(savepoint_) != SQLITE_DONE) return stop(first);
        if (insert_piece(first, size) == SQLITE_DONE) {
            if (run(release_) != SQLITE_DONE) return stop(first);
            first += size;
            continue;
        }
        // A full disk or an I/O error can take the whole transaction with it.
        if (sqlite3_get_autocommit(account_db) != 0) return stop(first);
        if (run(undo_) != SQLITE_DONE || run(release_) != SQLITE_DONE) {
            return stop(first);
        }
        for (const unsigned piece_end = first + size; first < piece_end;) {
            const bool added = insert_piece(first, 1) == SQLITE_DONE;
            if (!added && !refused(first)) return false;
            ++first;
            if (!added) break;
        }
    }
    return true;
}

// Binds accounts_[first, first + size) to the INSERT of `size` rows and runs it.
int account_import::insert_piece(unsigned first, unsigned size) {
    sqlite3_stmt* insert = inserts_[std::countr_zero(size)];
    int parameter = 1;
    for (const held_account* account = accounts_ + first; account != accounts_ + first + size;
         ++account) {
        sqlite3_bind_text(insert, parameter++, account->nickname,
                          static_cast<int>(account->nickname_length), SQLITE_STATIC);
        sqlite3_bind_text(insert, parameter++, account->password,
                          static_cast<int>(account->password_length), SQLITE_STATIC);
        sqlite3_bind_text(insert, parameter++, account->credentials, -1, SQLITE_STATIC);
    }
    return run(insert);
}

int account_import::run(sqlite3_stmt* statement) {
    const int result = sqlite3_step(statement);
    sqlite3_reset(statement);
    return result;
}

// Reports the row with the database's latest message. True when the
// transaction is still there: a constraint failure undoes one statement, a
// full disk or an I/O error can undo the whole transaction, and later
// INSERTs would then each commit on their own.
bool account_import::refused(unsigned row) {
    ++refusals_;
    report_(accounts_[row].line, sqlite3_errmsg(account_db));
    return sqlite3_get_autocommit(account_db) == 0;
}

// Reports the row and stops the import.
bool account_import::stop(unsigned row) {
    static_cast<void>(refused(row));
    lost_ = true;
    return false;
}

void account_import::close() {
    for (sqlite3_stmt*& insert : inserts_) {
        sqlite3_finalize(insert);
        insert = nullptr;
    }
    sqlite3_finalize(savepoint_);
    sqlite3_finalize(release_);
    sqlite3_finalize(undo_);
    savepoint_ = release_ = undo_ = nullptr;
    close_account_db();
    open_ = false;
}

}  // namespace corvane::userdb
