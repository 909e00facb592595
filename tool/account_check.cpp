#include "account_check.hpp"

#include <sqlite3.h>
#include <stdio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "checks.hpp"
#include "connection.hpp"
#include "messages.hpp"

namespace corvane::userdb {

namespace {

// The check's state: where it writes, whether it found a problem yet, and
// whether a nickname is stored as something other than text or NULL.
struct check_run {
    sqlite3* db;
    bool terminal;
    bool found;
    bool other_nicknames;
};

// Writes a terminated text as it is. (No fputs: each C function the tool
// calls is one more symbol to bind when any command starts.)
void put(const char* text) { std::fwrite(text, 1, std::strlen(text), stdout); }

// Writes `length` bytes of text: exact, or through the terminal filter,
// which takes terminated pieces (a NUL byte inside the value shows as '?';
// SQLite ends every text it hands out with one more).
void put_text(const check_run& run, const char* text, std::size_t length) {
    if (!run.terminal) {
        std::fwrite(text, 1, length, stdout);
        return;
    }
    for (const char* end = text + length;;) {
        put_for_terminal(text, stdout);
        text += std::strlen(text);
        if (text >= end) return;
        putc_unlocked('?', stdout);
        ++text;
    }
}

// "file: TEXT", one line for each line of TEXT.
void file_problem(check_run& run, const char* text) {
    run.found = true;
    while (*text != '\0') {
        const std::size_t length = std::strcspn(text, "\n");
        // The filter takes the line terminated: a copy.
        auto* line = static_cast<char*>(std::malloc(length + 1));
        if (line == nullptr) fail("ERROR: out of memory\n");
        std::memcpy(line, text, length);
        line[length] = '\0';
        put("file: ");
        put_text(run, line, length);
        putc_unlocked('\n', stdout);
        std::free(line);
        text += length;
        if (*text == '\n') ++text;
    }
}

// The nickname in column `column` of `row`, of storage class `type` (read
// before any conversion), shown so that text and the other storage classes
// cannot be mistaken for each other.
void put_nickname(const check_run& run, sqlite3_stmt* row, int column, int type) {
    switch (type) {
        case SQLITE_TEXT: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
            putc_unlocked('"', stdout);
            put_text(run, text, static_cast<std::size_t>(sqlite3_column_bytes(row, column)));
            putc_unlocked('"', stdout);
            return;
        }
        case SQLITE_BLOB: {
            // The blob's bytes as they are, with a NUL after them.
            const auto* bytes = sqlite3_column_text(row, column);
            const int length = sqlite3_column_bytes(row, column);
            put("x'");
            for (int i = 0; i < length; ++i) std::printf("%02x", bytes[i]);
            putc_unlocked('\'', stdout);
            return;
        }
        case SQLITE_NULL:
            put("NULL");
            return;
        default:  // a number, as SQLite writes it
            put(reinterpret_cast<const char*>(sqlite3_column_text(row, column)));
    }
}

// "row ROWID, nickname NICKNAME: " for a row whose rowid is column 0 and
// nickname column 1, of storage class `type`.
void start_row_problem(check_run& run, sqlite3_stmt* row, int type) {
    run.found = true;
    std::printf("row %lld, nickname ", static_cast<long long>(sqlite3_column_int64(row, 0)));
    put_nickname(run, row, 1, type);
    put(": ");
}

const char* storage_class(int type) {
    switch (type) {
        case SQLITE_INTEGER:
            return "an integer";
        case SQLITE_FLOAT:
            return "a real number";
        case SQLITE_BLOB:
            return "a blob";
        default:
            return "NULL";
    }
}

// Writes "ERROR: ..." for the latest failure on the connection; false.
bool read_failed(sqlite3* db) {
    report("ERROR: %s\n", sqlite3_errmsg(db));
    return false;
}

// Runs a statement whose rows, if any, are not needed.
bool run_pragma(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK || read_failed(db);
}

// SQLite's integrity check, every problem it names a line. Checking each
// cell's size first would make it stop at the first bad cell.
bool check_integrity(check_run& run) {
    sqlite3_stmt* check = nullptr;
    if (!run_pragma(run.db, "PRAGMA cell_size_check=OFF;")) return false;
    if (sqlite3_prepare_v2(run.db, "PRAGMA integrity_check;", -1, &check, nullptr) != SQLITE_OK) {
        return read_failed(run.db);
    }
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(check)) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
        if (text != nullptr && std::strcmp(text, "ok") != 0) file_problem(run, text);
    }
    sqlite3_finalize(check);
    return result == SQLITE_DONE || read_failed(run.db);
}

// Whether `users` is an ordinary table with the three columns the tool
// uses; each way it is not is a problem line.
bool check_shape(check_run& run, bool* usable) {
    *usable = false;
    sqlite3_stmt* lookup = nullptr;
    if (sqlite3_prepare_v2(run.db,
                           "SELECT type, sql LIKE 'CREATE VIRTUAL%' FROM main.sqlite_master "
                           "WHERE type IN ('table', 'view') AND name = 'users' COLLATE NOCASE;",
                           -1, &lookup, nullptr) != SQLITE_OK) {
        return read_failed(run.db);
    }
    const int result = sqlite3_step(lookup);
    if (result == SQLITE_DONE) {
        file_problem(run, "no users table");
    } else if (result == SQLITE_ROW &&
               std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(lookup, 0)), "view") ==
                   0) {
        file_problem(run, "users is a view, not an ordinary table");
    } else if (result == SQLITE_ROW && sqlite3_column_int64(lookup, 1) != 0) {
        file_problem(run, "users is a virtual table, not an ordinary table");
    } else if (result == SQLITE_ROW) {
        *usable = true;
    }
    sqlite3_finalize(lookup);
    if (result != SQLITE_ROW && result != SQLITE_DONE) return read_failed(run.db);
    if (!*usable) return true;

    sqlite3_stmt* columns = nullptr;
    if (sqlite3_prepare_v2(run.db,
                           "SELECT (SELECT count(*) FROM pragma_table_info('users') "
                           "WHERE name = need COLLATE NOCASE), need FROM (SELECT 'nickname' AS "
                           "need UNION ALL SELECT 'password' UNION ALL SELECT 'credentials');",
                           -1, &columns, nullptr) != SQLITE_OK) {
        return read_failed(run.db);
    }
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(columns)) == SQLITE_ROW) {
        if (sqlite3_column_int64(columns, 0) != 0) continue;
        char text[64];
        std::snprintf(text, sizeof text, "users has no column %s",
                      reinterpret_cast<const char*>(sqlite3_column_text(columns, 1)));
        file_problem(run, text);
        *usable = false;
    }
    sqlite3_finalize(columns);
    return step == SQLITE_DONE || read_failed(run.db);
}

// Every row held to add's rules, in one pass. Most rows pass at once:
// three texts, judged together; the others are judged field by field.
bool check_rows(check_run& run) {
    sqlite3_stmt* rows = nullptr;
    if (!run_pragma(run.db, "PRAGMA cell_size_check=ON;")) return false;
    if (sqlite3_prepare_v2(run.db, "SELECT rowid, nickname, password, credentials FROM users;", -1,
                           &rows, nullptr) != SQLITE_OK) {
        return read_failed(run.db);
    }
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(rows)) == SQLITE_ROW) {
        // Nickname, password and class: their storage classes, and their
        // text (empty for a value that is no text: a class that is not text
        // is then judged as the empty word, which is none of the eight).
        int types[3];
        std::string_view texts[3];
        for (int field = 0; field < 3; ++field) {
            types[field] = sqlite3_column_type(rows, field + 1);
            if (types[field] != SQLITE_TEXT) continue;
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(rows, field + 1));
            texts[field] = {text, static_cast<std::size_t>(sqlite3_column_bytes(rows, field + 1))};
        }
        if (types[0] == SQLITE_TEXT && types[1] == SQLITE_TEXT &&
            judge_account({texts[0], texts[1], texts[2]}).fault == nullptr) {
            continue;
        }
        const char* faults[3] = {judge_account({.nickname = texts[0]}).fault,
                                 judge_account({.password = texts[1]}).fault,
                                 judge_account({.class_word = texts[2]}).fault};
        if (types[0] != SQLITE_TEXT && types[0] != SQLITE_NULL) run.other_nicknames = true;
        for (int field = 0; field < 3; ++field) {
            if (field < 2 && types[field] != SQLITE_TEXT) {
                start_row_problem(run, rows, types[0]);
                std::printf("%s is not text but %s.\n", field == 0 ? "User name" : "Password",
                            storage_class(types[field]));
            } else if (faults[field] != nullptr) {
                start_row_problem(run, rows, types[0]);
                put(faults[field]);
            }
        }
    }
    sqlite3_finalize(rows);
    return result == SQLITE_DONE || read_failed(run.db);
}

// Rows whose nicknames are the same bytes. With the nickname unique, two
// such rows differ in storage class, so one of them holds no text: only
// those are looked up, in the index, and only when the rows had one.
// Without, every nickname is compared.
bool check_twins(check_run& run) {
    const bool unique = nickname_is_unique(false);
    if (unique && !run.other_nicknames) return true;
    const char* sql =
        unique ? "SELECT b.rowid, b.nickname, u.rowid FROM users AS b, users AS u "
                 "WHERE typeof(b.nickname) IN ('blob', 'integer', 'real') AND u.nickname IN "
                 "(CAST(b.nickname AS TEXT), CAST(b.nickname AS BLOB)) AND CAST(u.nickname AS "
                 "BLOB) = CAST(b.nickname AS BLOB) AND u.rowid <> b.rowid ORDER BY b.rowid;"
               : "SELECT rowid, nickname, first FROM (SELECT rowid, nickname, "
                 "min(rowid) OVER same AS first, count(*) OVER same AS copies FROM users "
                 "WHERE nickname IS NOT NULL WINDOW same AS (PARTITION BY CAST(nickname AS "
                 "BLOB))) WHERE copies > 1 AND rowid <> first ORDER BY rowid;";
    sqlite3_stmt* pairs = nullptr;
    if (sqlite3_prepare_v2(run.db, sql, -1, &pairs, nullptr) != SQLITE_OK) {
        return read_failed(run.db);
    }
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(pairs)) == SQLITE_ROW) {
        start_row_problem(run, pairs, sqlite3_column_type(pairs, 1));
        std::printf("User name is the same as in row %lld.\n",
                    static_cast<long long>(sqlite3_column_int64(pairs, 2)));
    }
    sqlite3_finalize(pairs);
    return result == SQLITE_DONE || read_failed(run.db);
}

}  // namespace

int check_account_file(const database& db) {
    // Never created, and nothing written: not even a dry run's transaction.
    // The file is read twice over, by the integrity check and by the rows:
    // mapped into memory (up to 1 GiB of it), its pages cost no system call
    // each. No other process that locks the file can shrink it while the
    // check holds its read lock.
    open_account_db(db, false);
    if (!run_pragma(account_db, "PRAGMA query_only=ON; PRAGMA mmap_size=1073741824;")) {
        close_account_db();
        return 1;
    }
    check_run run{account_db, isatty(STDOUT_FILENO) != 0, false, false};
    bool usable = false;
    // The filter writes with putc_unlocked: the stream's lock is held throughout.
    flockfile(stdout);
    const bool read = check_integrity(run) && check_shape(run, &usable) &&
                      (!usable || (check_rows(run) && check_twins(run)));
    funlockfile(stdout);
    close_account_db();
    return read && !run.found ? 0 : 1;
}

}  // namespace corvane::userdb
