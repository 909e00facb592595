#include "account_check.hpp"

#include <pthread.h>
#include <sqlite3.h>
#include <stdio.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "checks.hpp"
#include "connection.hpp"
#include "messages.hpp"

namespace corvane::userdb {

namespace {

// The check's state: whether it writes what it finds (a quiet run only
// looks for a first problem), whether it found one yet, and whether a
// nickname is stored as something other than text or NULL.
struct check_run {
    sqlite3* db;
    bool quiet;
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
    if (run.quiet) return;
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
            for (int i = 0; i < length; ++i) print("%02x", bytes[i]);
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

// "row ROWID, nickname NICKNAME: " and the rest of the line, for a row
// whose rowid is column 0 and nickname column 1, of storage class `type`.
__attribute__((format(printf, 4, 5))) void row_problem(check_run& run, sqlite3_stmt* row, int type,
                                                       const char* format, ...) {
    run.found = true;
    if (run.quiet) return;
    print("row %lld, nickname ", static_cast<long long>(sqlite3_column_int64(row, 0)));
    put_nickname(run, row, 1, type);
    put(": ");
    va_list values;
    va_start(values, format);
    std::vfprintf(stdout, format, values);
    va_end(values);
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

// Writes "ERROR: ..." for the latest failure on the run's connection,
// unless the run is quiet; false.
bool read_failed(const check_run& run) {
    if (!run.quiet) report("ERROR: %s\n", sqlite3_errmsg(run.db));
    return false;
}

// Runs a statement whose rows, if any, are not needed.
bool run_pragma(const check_run& run, const char* sql) {
    return sqlite3_exec(run.db, sql, nullptr, nullptr, nullptr) == SQLITE_OK || read_failed(run);
}

// SQLite's integrity check on its own connection, run on a second thread
// while the first judges the rows. What it finds is kept, to be written
// before the rest: each problem SQLite names a line (at most 100 of them).
// Checking each cell's size first would make it stop at the first bad cell.
struct integrity_pass {
    sqlite3* db;
    bool done = false;         // the check ran to its end
    char* problems = nullptr;  // its lines, each ended by a line feed
    std::size_t length = 0, capacity = 0;
};

// Adds a line to the pass's problems.
void keep_problem(integrity_pass& pass, const char* text) {
    const std::size_t size = std::strlen(text) + 1;
    if (pass.length + size + 1 > pass.capacity) {
        const std::size_t capacity = 2 * (pass.length + size + 1);
        auto* grown = static_cast<char*>(std::malloc(capacity));
        if (grown == nullptr) fail("ERROR: out of memory\n");
        if (pass.length != 0) std::memcpy(grown, pass.problems, pass.length);
        std::free(pass.problems);
        pass.problems = grown;
        pass.capacity = capacity;
    }
    std::memcpy(pass.problems + pass.length, text, size - 1);
    pass.length += size;
    pass.problems[pass.length - 1] = '\n';
    pass.problems[pass.length] = '\0';
}

void* check_integrity(void* argument) {
    auto& pass = *static_cast<integrity_pass*>(argument);
    sqlite3_stmt* check = nullptr;
    if (sqlite3_exec(pass.db,
                     "PRAGMA query_only=ON; PRAGMA mmap_size=1073741824; "
                     "PRAGMA cell_size_check=OFF;",
                     nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(pass.db, "PRAGMA integrity_check;", -1, &check, nullptr) != SQLITE_OK) {
        return nullptr;
    }
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(check)) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
        if (text != nullptr && std::strcmp(text, "ok") != 0) keep_problem(pass, text);
    }
    sqlite3_finalize(check);
    pass.done = result == SQLITE_DONE;
    return nullptr;
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
        return read_failed(run);
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
    if (result != SQLITE_ROW && result != SQLITE_DONE) return read_failed(run);
    if (!*usable) return true;

    sqlite3_stmt* columns = nullptr;
    if (sqlite3_prepare_v2(run.db,
                           "SELECT (SELECT count(*) FROM pragma_table_info('users') "
                           "WHERE name = need COLLATE NOCASE), need FROM (SELECT 'nickname' AS "
                           "need UNION ALL SELECT 'password' UNION ALL SELECT 'credentials');",
                           -1, &columns, nullptr) != SQLITE_OK) {
        return read_failed(run);
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
    return step == SQLITE_DONE || read_failed(run);
}

// Every row held to add's rules, in one pass. Most rows pass at once:
// three texts, judged together; the others are judged field by field.
bool check_rows(check_run& run) {
    sqlite3_stmt* rows = nullptr;
    if (sqlite3_prepare_v2(run.db, "SELECT rowid, nickname, password, credentials FROM users;", -1,
                           &rows, nullptr) != SQLITE_OK) {
        return read_failed(run);
    }
    int result = SQLITE_ROW;
    while (!(run.quiet && run.found) && (result = sqlite3_step(rows)) == SQLITE_ROW) {
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
                row_problem(run, rows, types[0], "%s is not text but %s.\n",
                            field == 0 ? "User name" : "Password", storage_class(types[field]));
            } else if (faults[field] != nullptr) {
                row_problem(run, rows, types[0], "%s", faults[field]);
            }
        }
    }
    sqlite3_finalize(rows);
    return result == SQLITE_DONE || read_failed(run);
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
        return read_failed(run);
    }
    int result = SQLITE_ROW;
    while (!(run.quiet && run.found) && (result = sqlite3_step(pairs)) == SQLITE_ROW) {
        row_problem(run, pairs, sqlite3_column_type(pairs, 1),
                    "User name is the same as in row %lld.\n",
                    static_cast<long long>(sqlite3_column_int64(pairs, 2)));
    }
    sqlite3_finalize(pairs);
    return result == SQLITE_DONE || read_failed(run);
}

// The shape, the rows and the nicknames twice, in turn; false when the
// file could not be read.
bool check_accounts(check_run& run) {
    bool usable = false;
    return check_shape(run, &usable) && (!usable || (check_rows(run) && check_twins(run)));
}

}  // namespace

int check_account_file(const database& db) {
    // Never created, and nothing written: not even a dry run's transaction.
    // The file is read twice over, by the integrity check and by the rows:
    // mapped into memory (up to 1 GiB of it), its pages cost no system call
    // each. The read transaction, begun before the second connection reads,
    // keeps any other process from committing a change until both are done.
    open_account_db(db, purpose::check);
    check_run run{account_db, false, isatty(STDOUT_FILENO) != 0, false, false};
    if (!run_pragma(run,
                    "PRAGMA query_only=ON; PRAGMA mmap_size=1073741824; BEGIN; "
                    "SELECT 1 FROM main.sqlite_master LIMIT 1;")) {
        close_account_db();
        return 1;
    }
    run.quiet = true;
    // The integrity check goes on the second thread; meanwhile the rest is
    // judged without a word written. A sound file, the usual case, is then
    // done; otherwise the rest is judged again, written, after the integrity
    // check's lines. Without a second connection or thread, or when the
    // check there could not run to its end (a lock another process is about
    // to take, for one), it runs here instead, where it says what failed.
    integrity_pass integrity{open_second_connection()};
    pthread_t thread{};
    const bool parallel = integrity.db != nullptr &&
                          pthread_create(&thread, nullptr, check_integrity, &integrity) == 0;
    const bool sound = check_accounts(run) && !run.found;
    if (parallel) pthread_join(thread, nullptr);
    sqlite3_close(integrity.db);

    run = {account_db, false, run.terminal, false, false};
    // The filter writes with putc_unlocked: the stream's lock is held throughout.
    flockfile(stdout);
    if (!integrity.done) {
        integrity.db = account_db;
        integrity.length = 0;
        check_integrity(&integrity);
    }
    if (integrity.length != 0) file_problem(run, integrity.problems);
    std::free(integrity.problems);
    const bool read = integrity.done ? sound || (run_pragma(run, "PRAGMA cell_size_check=ON;") &&
                                                 check_accounts(run))
                                     : read_failed(run);
    funlockfile(stdout);
    close_account_db();
    return read && !run.found ? 0 : 1;
}

}  // namespace corvane::userdb
