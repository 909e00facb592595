/* The least a program can do to import accounts: read lines of
 * NICKNAME<TAB>PASSWORD[<TAB>CLASS] from standard input and insert them, ROWS
 * lines to one multi-row INSERT (default 128; 1 is one statement step per
 * line), all in one transaction, on a connection set up as the tool sets up
 * its own (floor_connection.h). No field is checked and a failure is not
 * traced to its line. The import benchmark holds `corvane-userdb FILE
 * import` against it with 1 row and with the tool's batch.
 *
 *   import_floor FILE [ROWS] < LINES */
#define _POSIX_C_SOURCE 200809L
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "floor_connection.h"

enum { MAX_ROWS = 1024, MAX_FIELD = 256 };

static char fields[MAX_ROWS][3][MAX_FIELD];
static int lengths[MAX_ROWS][3];

/* The INSERT of `rows` accounts, or NULL. */
static sqlite3_stmt *prepare_insert(sqlite3 *db, int rows) {
    static char sql[64 + MAX_ROWS * 8];
    strcpy(sql, "INSERT INTO users (nickname, password, credentials) VALUES(?,?,?)");
    for (int row = 1; row < rows; ++row) strcat(sql, ",(?,?,?)");
    sqlite3_stmt *insert = NULL;
    return sqlite3_prepare_v2(db, sql, -1, &insert, NULL) == SQLITE_OK ? insert : NULL;
}

/* Binds the first `rows` held accounts to `insert` and runs it; 0 on success. */
static int insert_rows(sqlite3_stmt *insert, int rows) {
    for (int row = 0; row < rows; ++row)
        for (int field = 0; field < 3; ++field)
            sqlite3_bind_text(insert, row * 3 + field + 1, fields[row][field], lengths[row][field],
                              SQLITE_STATIC);
    const int failed = sqlite3_step(insert) != SQLITE_DONE;
    sqlite3_reset(insert);
    return failed;
}

int main(int argc, char **argv) {
    const int batch = argc == 3 ? atoi(argv[2]) : 128;
    if (argc < 2 || argc > 3 || batch < 1 || batch > MAX_ROWS) {
        fputs("usage: import_floor FILE [ROWS] < LINES\n", stderr);
        return 2;
    }
    sqlite3 *db = NULL;
    sqlite3_stmt *insert = NULL;
    if (open_floor_connection(argv[1], &db) != SQLITE_OK ||
        sqlite3_exec(db, "BEGIN IMMEDIATE;", NULL, NULL, NULL) != SQLITE_OK ||
        (insert = prepare_insert(db, batch)) == NULL) {
        fprintf(stderr, "ERROR: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    char *line = NULL;
    size_t capacity = 0;
    ssize_t length;
    int failed = 0;
    int held = 0;
    while ((length = getline(&line, &capacity, stdin)) > 0) {
        if (line[length - 1] == '\n') line[--length] = '\0';
        if (length == 0) continue;
        char *password = strchr(line, '\t');
        if (password == NULL) continue;
        *password++ = '\0';
        char *credentials = strchr(password, '\t');
        if (credentials != NULL) *credentials++ = '\0';
        const char *values[3] = {line, password, credentials != NULL ? credentials : "user"};
        for (int field = 0; field < 3; ++field) {
            size_t size = strlen(values[field]);
            if (size > MAX_FIELD) size = MAX_FIELD; /* the benchmark's fields are short */
            memcpy(fields[held][field], values[field], size);
            lengths[held][field] = (int)size;
        }
        if (++held == batch) {
            failed |= insert_rows(insert, held);
            held = 0;
        }
    }
    free(line);
    sqlite3_finalize(insert);
    if (held > 0) {
        insert = prepare_insert(db, held);
        failed |= insert == NULL || insert_rows(insert, held);
        sqlite3_finalize(insert);
    }
    if (sqlite3_exec(db, failed ? "ROLLBACK;" : "COMMIT;", NULL, NULL, NULL) != SQLITE_OK) failed = 1;
    sqlite3_close(db);
    return failed;
}
