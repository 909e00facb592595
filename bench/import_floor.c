/* The least a program can do to import accounts: read lines of
 * NICKNAME<TAB>PASSWORD[<TAB>CLASS] from standard input and insert them, ROWS
 * lines to one multi-row INSERT (1 is one statement step per line), all in
 * one transaction, on a connection set up as the tool sets up its own
 * (floor_connection.h). No field is checked and a failure is not traced to
 * its line. The import benchmark holds `corvane-userdb FILE import` against
 * it with the levers that made it fastest (docs/performance.md).
 *
 *   import_floor FILE [ROWS [LEVER...]] < LINES        (ROWS: default 512)
 *
 * Each LEVER changes one thing, so that the benchmark can measure it. A
 * multi-row INSERT that may fail half-way keeps a statement journal: the
 * original of every page it changes. The users table's DATETIME('NOW')
 * defaults make every multi-row INSERT such a statement, whatever its OR
 * clause; a one-row INSERT never is.
 *   spill=N    SQLITE_CONFIG_STMTJRNL_SPILL: a statement journal stays in
 *              memory up to N bytes (default 64 KiB, then a temporary
 *              file), in chunks of N bytes
 *   memory     PRAGMA temp_store=MEMORY: every statement journal stays in
 *              memory, in chunks of 1 KiB
 *   cache=N    PRAGMA cache_size=N for the import (negative: KiB)
 *   savepoint  each INSERT inside SAVEPOINT ... RELEASE, as the tool had it
 *   fail       INSERT OR FAIL: a refused row keeps the rows before it
 *   exclusive  PRAGMA locking_mode=EXCLUSIVE
 *   nospill    PRAGMA cache_spill=OFF (the cache then grows with the input)
 *   check      before each batch, one SELECT that looks its nicknames up
 *   stage      the rows go to a temporary table first (a lever after memory:
 *              setting temp_store drops temporary tables), then to users in
 *              one INSERT ... SELECT at the end, as the sqlite3 shell imports */
#define _POSIX_C_SOURCE 200809L
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "floor_connection.h"

enum { MAX_ROWS = 1024, MAX_FIELD = 256 };

static char fields[MAX_ROWS][3][MAX_FIELD];
static int lengths[MAX_ROWS][3];

static int or_fail;
static int savepoint;
static int check;
static int stage;

/* The INSERT of `rows` accounts, or NULL. */
static sqlite3_stmt *prepare_insert(sqlite3 *db, int rows) {
    static char sql[64 + MAX_ROWS * 8];
    strcpy(sql, stage     ? "INSERT INTO staging (nickname, password, credentials) VALUES(?,?,?)"
                : or_fail ? "INSERT OR FAIL INTO users (nickname, password, credentials) VALUES(?,?,?)"
                          : "INSERT INTO users (nickname, password, credentials) VALUES(?,?,?)");
    for (int row = 1; row < rows; ++row) strcat(sql, ",(?,?,?)");
    sqlite3_stmt *insert = NULL;
    return sqlite3_prepare_v2(db, sql, -1, &insert, NULL) == SQLITE_OK ? insert : NULL;
}

/* The look-up of `rows` nicknames, or NULL. */
static sqlite3_stmt *prepare_check(sqlite3 *db, int rows) {
    static char sql[64 + MAX_ROWS * 4];
    strcpy(sql, "SELECT 1 FROM users WHERE nickname IN (?");
    for (int row = 1; row < rows; ++row) strcat(sql, ",?");
    strcat(sql, ")");
    sqlite3_stmt *select = NULL;
    return sqlite3_prepare_v2(db, sql, -1, &select, NULL) == SQLITE_OK ? select : NULL;
}

static int run(sqlite3 *db, const char *sql) {
    return sqlite3_exec(db, sql, NULL, NULL, NULL) != SQLITE_OK;
}

/* Binds the first `rows` held accounts to `insert` and runs it; 0 on success. */
static int insert_rows(sqlite3 *db, sqlite3_stmt *insert, sqlite3_stmt *lookup, int rows) {
    int failed = 0;
    if (lookup != NULL) {
        for (int row = 0; row < rows; ++row)
            sqlite3_bind_text(lookup, row + 1, fields[row][0], lengths[row][0], SQLITE_STATIC);
        failed |= sqlite3_step(lookup) != SQLITE_DONE; /* a row: a nickname is taken */
        sqlite3_reset(lookup);
    }
    for (int row = 0; row < rows; ++row)
        for (int field = 0; field < 3; ++field)
            sqlite3_bind_text(insert, row * 3 + field + 1, fields[row][field], lengths[row][field],
                              SQLITE_STATIC);
    if (savepoint) failed |= run(db, "SAVEPOINT batch;");
    failed |= sqlite3_step(insert) != SQLITE_DONE;
    sqlite3_reset(insert);
    if (savepoint) failed |= run(db, "RELEASE batch;");
    return failed;
}

int main(int argc, char **argv) {
    const int batch = argc >= 3 ? atoi(argv[2]) : 512;
    if (argc < 2 || batch < 1 || batch > MAX_ROWS) {
        fputs("usage: import_floor FILE [ROWS [LEVER...]] < LINES\n", stderr);
        return 2;
    }
    sqlite3 *db = NULL;
    sqlite3_stmt *insert = NULL;
    sqlite3_stmt *lookup = NULL;
    for (int i = 3; i < argc; ++i)
        if (strncmp(argv[i], "spill=", 6) == 0)
            sqlite3_config(SQLITE_CONFIG_STMTJRNL_SPILL, atoi(argv[i] + 6));
    if (open_floor_connection(argv[1], &db) != SQLITE_OK) {
        fprintf(stderr, "ERROR: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    for (int i = 3; i < argc; ++i) {
        char pragma[64];
        const char *lever = argv[i];
        if (strcmp(lever, "memory") == 0) {
            strcpy(pragma, "PRAGMA temp_store=MEMORY;");
        } else if (strncmp(lever, "cache=", 6) == 0) {
            snprintf(pragma, sizeof pragma, "PRAGMA cache_size=%d;", atoi(lever + 6));
        } else if (strcmp(lever, "exclusive") == 0) {
            strcpy(pragma, "PRAGMA locking_mode=EXCLUSIVE;");
        } else if (strcmp(lever, "nospill") == 0) {
            strcpy(pragma, "PRAGMA cache_spill=OFF;");
        } else if (strncmp(lever, "spill=", 6) == 0) {
            continue;
        } else if (strcmp(lever, "stage") == 0) {
            strcpy(pragma, "CREATE TEMP TABLE staging(nickname, password, credentials);");
            stage = 1;
        } else if (strcmp(lever, "savepoint") == 0 || strcmp(lever, "fail") == 0 ||
                   strcmp(lever, "check") == 0) {
            savepoint |= lever[0] == 's';
            or_fail |= lever[0] == 'f';
            check |= lever[0] == 'c';
            continue;
        } else {
            fprintf(stderr, "import_floor: no lever %s\n", lever);
            return 2;
        }
        if (run(db, pragma)) {
            fprintf(stderr, "ERROR: %s\n", sqlite3_errmsg(db));
            return 1;
        }
    }
    if (run(db, "BEGIN IMMEDIATE;") || (insert = prepare_insert(db, batch)) == NULL ||
        (check && (lookup = prepare_check(db, batch)) == NULL)) {
        fprintf(stderr, "ERROR: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    char *line = NULL;
    size_t capacity = 0;
    int failed = 0;
    int held = 0;
    for (char *read[3]; read_fields(&line, &capacity, read);) {
        const char *values[3] = {read[0], read[1], read[2] != NULL ? read[2] : "user"};
        for (int field = 0; field < 3; ++field) {
            size_t size = strlen(values[field]);
            if (size > MAX_FIELD) size = MAX_FIELD; /* the benchmark's fields are short */
            memcpy(fields[held][field], values[field], size);
            lengths[held][field] = (int)size;
        }
        if (++held == batch) {
            failed |= insert_rows(db, insert, lookup, held);
            held = 0;
        }
    }
    free(line);
    sqlite3_finalize(insert);
    sqlite3_finalize(lookup);
    if (held > 0) {
        insert = prepare_insert(db, held);
        lookup = check ? prepare_check(db, held) : NULL;
        failed |= insert == NULL || (check && lookup == NULL) ||
                  insert_rows(db, insert, lookup, held);
        sqlite3_finalize(insert);
        sqlite3_finalize(lookup);
    }
    if (stage && !failed)
        failed = run(db, "INSERT INTO users (nickname, password, credentials) "
                         "SELECT nickname, password, credentials FROM staging ORDER BY rowid;");
    if (run(db, failed ? "ROLLBACK;" : "COMMIT;")) failed = 1;
    sqlite3_close(db);
    return failed;
}
