#include "store.hpp"

#include <sqlite3.h>

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
// The prepared INSERT of an import, while one runs.
sqlite3_stmt* import_insert = nullptr;

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
    // switch file locking off. The setting is library-wide and must come
    // before SQLite initialises, which the open below does.
    int result = sqlite3_config(SQLITE_CONFIG_URI, 0);
    // For reading and writing, created if missing. The one thread never
    // shares the connection, so it goes without a mutex. The name was
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

// The statements run here produce no rows; the callback only lets them run on.
int ignore_rows(void* /*context*/, int /*columns*/, char** /*values*/, char** /*names*/) {
    return 0;
}

// A row of the users table, passed on as class and nickname. A row of
// another shape stops the listing.
int pass_account_row(void* context, int columns, char** values, char** /*names*/) {
    if (columns < 3) return 1;
    const account_printer print = *static_cast<const account_printer*>(context);
    return print(values[2] != nullptr ? values[2] : "", values[0] != nullptr ? values[0] : "") ? 0
                                                                                               : 1;
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
    if (execute(statement, ignore_rows, nullptr, &error) != SQLITE_OK) report_error(error);
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
    char* error = nullptr;
    const int result = execute("SELECT * FROM users;", pass_account_row, &print, &error);
    sqlite3_free(error);
    close_account_db();
    return result == SQLITE_OK;
}

bool import_begin() {
    open_account_db();
    // IMMEDIATE takes the write lock now: a lock held elsewhere fails the
    // import before any input is read.
    char* error = nullptr;
    if (execute("BEGIN IMMEDIATE;", nullptr, nullptr, &error) != SQLITE_OK) {
        report_error(error);
        close_account_db();
        return false;
    }
    if (sqlite3_prepare_v2(account_db,
                           "INSERT INTO users (nickname, password, credentials) VALUES(?, ?, ?);",
                           -1, &import_insert, nullptr) != SQLITE_OK) {
        report("ERROR: %s\n", sqlite3_errmsg(account_db));
        close_account_db();
        return false;
    }
    return true;
}

const char* import_account(std::string_view nickname, std::string_view password,
                           const char* credentials, bool* transaction_lost) {
    sqlite3_bind_text(import_insert, 1, nickname.data(), static_cast<int>(nickname.size()),
                      SQLITE_STATIC);
    sqlite3_bind_text(import_insert, 2, password.data(), static_cast<int>(password.size()),
                      SQLITE_STATIC);
    sqlite3_bind_text(import_insert, 3, credentials, -1, SQLITE_STATIC);
    const int result = sqlite3_step(import_insert);
    sqlite3_reset(import_insert);
    if (result == SQLITE_DONE) return nullptr;
    // A constraint failure undoes the one INSERT; a full disk or an I/O
    // error can undo the whole transaction, and later INSERTs would then
    // each commit on their own.
    *transaction_lost = sqlite3_get_autocommit(account_db) != 0;
    return sqlite3_errmsg(account_db);
}

bool import_finish(bool commit) {
    sqlite3_finalize(import_insert);
    import_insert = nullptr;
    bool committed = false;
    if (commit && sqlite3_get_autocommit(account_db) == 0) {
        char* error = nullptr;
        committed = sqlite3_exec(account_db, "COMMIT;", nullptr, nullptr, &error) == SQLITE_OK;
        if (!committed) report_error(error);
    }
    // A transaction still open after a failed COMMIT is rolled back by the close.
    close_account_db();
    return committed;
}

}  // namespace corvane::userdb
