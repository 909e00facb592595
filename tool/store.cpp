#include "store.hpp"

#include <sqlite3.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "messages.hpp"
#include "safe_directory.hpp"

namespace corvane::userdb {

sqlite3* account_db = nullptr;

namespace {

// The file open_account_db resolved and opened, for a second connection.
path_buffer opened_file{};

// The settings of every connection. A crafted file must not make our
// statements call functions with side effects through its triggers or
// views; a page whose cells overlap or overrun it is reported as corrupt
// when it is loaded, before a change is built on it and spreads the
// damage; without -w a lock held elsewhere fails the command at once.
int set_up(sqlite3* connection, int wait_seconds) {
    int result = sqlite3_db_config(connection, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    if (result == SQLITE_OK) {
        result = sqlite3_db_config(connection, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    }
    if (result == SQLITE_OK) {
        result = sqlite3_exec(connection, "PRAGMA cell_size_check=ON;", nullptr, nullptr, nullptr);
    }
    if (result == SQLITE_OK && wait_seconds > 0) {
        result = sqlite3_busy_timeout(connection, wait_seconds * 1000);
    }
    return result;
}

// Opens the resolved file: for reading and writing, created if missing when
// `created` says so. A link in its place now was put there after the check,
// and is refused.
int open_file(int created, sqlite3** connection) {
    return sqlite3_open_v2(
        opened_file.text, connection,
        SQLITE_OPEN_READWRITE | created | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW, nullptr);
}

}  // namespace

void open_account_db(const database& db, purpose use) {
    path_buffer unsafe{};
    switch (locate_database(db.path, opened_file, unsafe)) {
        case placement::safe:
            break;
        case placement::unsafe:
            fail("Unsafe database directory: %s (writable by every user)\n", unsafe.text);
        case placement::unresolved:
            fail("Unable to open database: %s (result=%d)\n", db.path, SQLITE_CANTOPEN);
    }

    // The name is always a file name: as a URI, "file:x?vfs=unix-none" would
    // switch file locking off. One thread needs no mutex in SQLite at all; a
    // check reads on two, each with its own connection. Both settings are
    // library-wide and must come before SQLite initialises, which the open
    // below does: a process opens once.
    int result = sqlite3_config(use == purpose::check ? SQLITE_CONFIG_MULTITHREAD
                                                      : SQLITE_CONFIG_SINGLETHREAD);
    if (result == SQLITE_OK) result = sqlite3_config(SQLITE_CONFIG_URI, 0);
    const int created = use == purpose::change && !db.dry_run ? SQLITE_OPEN_CREATE : 0;
    if (result == SQLITE_OK) result = open_file(created, &account_db);
    if (result == SQLITE_OK) result = set_up(account_db, db.wait_seconds);
    if (result != SQLITE_OK) fail("Unable to open database: %s (result=%d)\n", db.path, result);
}

sqlite3* open_second_connection() {
    sqlite3* second = nullptr;
    if (open_file(0, &second) != SQLITE_OK || set_up(second, 0) != SQLITE_OK) {
        sqlite3_close(second);
        return nullptr;
    }
    return second;
}

int execute(const char* sql, int (*rows)(void*, int, char**, char**), void* context, char** error) {
    int result = sqlite3_exec(account_db, "PRAGMA synchronous=EXTRA;", nullptr, nullptr, error);
    if (result == SQLITE_OK) result = sqlite3_exec(account_db, sql, rows, context, error);
    return result;
}

void report_error(char* error) {
    report("ERROR: %s\n", error != nullptr ? error : sqlite3_errmsg(account_db));
    sqlite3_free(error);
}

bool users_is_changeable() {
    // PRAGMA table_list (SQLite 3.37 and later) answers from the schema
    // SQLite has loaded, at a third of the cost of reading sqlite_master,
    // where a table or an index has a root page and a view or a virtual
    // table none.
    const bool listed = sqlite3_libversion_number() >= 3037000;
    sqlite3_stmt* query = nullptr;
    int result = sqlite3_prepare_v2(account_db,
                                    listed ? "PRAGMA main.table_list(users);"
                                           : "SELECT rootpage FROM sqlite_master WHERE name = "
                                             "'users' COLLATE NOCASE AND type <> 'trigger';",
                                    -1, &query, nullptr);
    if (result == SQLITE_OK) result = sqlite3_step(query);
    const auto* kind = reinterpret_cast<const char*>(
        listed && result == SQLITE_ROW ? sqlite3_column_text(query, 2) : nullptr);
    const bool changeable =
        result == SQLITE_DONE ||
        (result == SQLITE_ROW && (listed ? kind != nullptr && std::strcmp(kind, "table") == 0
                                         : sqlite3_column_int64(query, 0) != 0));
    if (result != SQLITE_DONE && result != SQLITE_ROW) {
        report("ERROR: %s\n", sqlite3_errmsg(account_db));
    } else if (!changeable) {
        report("ERROR: users is not a table\n");
    }
    sqlite3_finalize(query);
    return changeable;
}

void close_account_db() {
    sqlite3_close(account_db);
    account_db = nullptr;
}

bool nickname_is_unique(bool compared_bytewise) {
    // A UNIQUE index of any collation keeps apart nicknames of different
    // bytes at least. `nickname = ?` compares with the column's collation,
    // which is the bytewise one when the table names none.
    constexpr const char* indexed =
        "SELECT EXISTS (SELECT 1 FROM pragma_index_list('users') AS list "
        "WHERE list.\"unique\" AND NOT list.partial AND "
        "(SELECT count(*) FROM pragma_index_info(list.name)) = 1 AND "
        "(SELECT name FROM pragma_index_info(list.name)) = 'nickname' COLLATE NOCASE)";
    char sql[512];
    std::snprintf(sql, sizeof sql, "%s%s;", indexed,
                  compared_bytewise ? " AND NOT EXISTS (SELECT 1 FROM main.sqlite_master WHERE "
                                      "type = 'table' AND name = 'users' COLLATE NOCASE AND "
                                      "sql LIKE '%COLLATE%')"
                                    : "");
    sqlite3_stmt* query = nullptr;
    if (sqlite3_prepare_v2(account_db, sql, -1, &query, nullptr) != SQLITE_OK) return false;
    const bool unique = sqlite3_step(query) == SQLITE_ROW && sqlite3_column_int64(query, 0) != 0;
    sqlite3_finalize(query);
    return unique;
}

bool begin_bulk_write(const database& db) {
    // Library-wide, so before the open initialises SQLite, like the
    // settings there.
    const int result = sqlite3_config(SQLITE_CONFIG_STMTJRNL_SPILL, 8 << 20);
    if (result != SQLITE_OK) fail("Unable to open database: %s (result=%d)\n", db.path, result);
    open_account_db(db);
    char* error = nullptr;
    if (execute("PRAGMA cache_size=-32768;BEGIN IMMEDIATE;", nullptr, nullptr, &error) ==
        SQLITE_OK) {
        return true;
    }
    report_error(error);
    close_account_db();
    return false;
}

namespace {

constexpr const char* SCHEMA_STATEMENT =
    "CREATE TABLE users(nickname CHAR NOT NULL UNIQUE,password CHAR NOT NULL,credentials CHAR "
    "NOT NULL DEFAULT 'user',created TIMESTAMP DEFAULT (DATETIME('NOW')),activity TIMESTAMP "
    "DEFAULT (DATETIME('NOW')));";

// Runs the statement of a change on account_db; with -n inside a
// transaction that is then rolled back. The count of rows changed outlives
// the rollback.
int execute_change(const database& db, const char* sql, char** error) {
    if (!db.dry_run) return execute(sql, nullptr, nullptr, error);
    int result = execute("BEGIN;", nullptr, nullptr, error);
    if (result == SQLITE_OK) result = sqlite3_exec(account_db, sql, nullptr, nullptr, error);
    // A transaction left open by a failed statement is rolled back by the close.
    if (result == SQLITE_OK)
        result = sqlite3_exec(account_db, "ROLLBACK;", nullptr, nullptr, error);
    return result;
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

}  // namespace

int run_statement(const database& db, const char* format, ...) {
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

    open_account_db(db);
    char* error = nullptr;
    if (users_is_changeable() && execute_change(db, statement, &error) != SQLITE_OK) {
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

bool create_users_table(const database& db) {
    open_account_db(db);
    char* error = nullptr;
    bool there = execute_change(db, SCHEMA_STATEMENT, &error) == SQLITE_OK;
    if (!there) {
        // Running create again is how scripts make sure the table is there.
        there = error != nullptr && std::strcmp(error, "table users already exists") == 0;
        report_error(error);
    }
    close_account_db();
    return there;
}

bool for_each_account(const database& db, account_printer print) {
    open_account_db(db);
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
    const int print_errno = errno;  // why the printer stopped, for its caller
    sqlite3_finalize(query);
    close_account_db();
    errno = print_errno;
    return result == SQLITE_DONE;
}

}  // namespace corvane::userdb
