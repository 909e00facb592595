/* The least a program can do to import accounts: read lines of
 * NICKNAME<TAB>PASSWORD[<TAB>CLASS] from standard input and insert each with
 * one prepared statement, all in one transaction, on a connection set up as
 * the tool sets up its own (floor_connection.h). No field is checked. The
 * import benchmark holds `corvane-userdb FILE import` against it.
 *
 *   import_floor FILE < LINES */
#define _POSIX_C_SOURCE 200809L
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "floor_connection.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        fputs("usage: import_floor FILE < LINES\n", stderr);
        return 2;
    }
    sqlite3 *db = NULL;
    sqlite3_stmt *insert = NULL;
    if (open_floor_connection(argv[1], &db) != SQLITE_OK ||
        sqlite3_exec(db, "BEGIN IMMEDIATE;", NULL, NULL, NULL) != SQLITE_OK ||
        sqlite3_prepare_v2(db, "INSERT INTO users (nickname, password, credentials) VALUES(?, ?, ?);",
                           -1, &insert, NULL) != SQLITE_OK) {
        fprintf(stderr, "ERROR: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    char *line = NULL;
    size_t capacity = 0;
    ssize_t length;
    int failed = 0;
    while ((length = getline(&line, &capacity, stdin)) > 0) {
        if (line[length - 1] == '\n') line[--length] = '\0';
        if (length == 0) continue;
        char *password = strchr(line, '\t');
        if (password == NULL) continue;
        *password++ = '\0';
        char *credentials = strchr(password, '\t');
        if (credentials != NULL) *credentials++ = '\0';
        sqlite3_bind_text(insert, 1, line, -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 2, password, -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 3, credentials != NULL ? credentials : "user", -1, SQLITE_STATIC);
        if (sqlite3_step(insert) != SQLITE_DONE) failed = 1;
        sqlite3_reset(insert);
    }
    free(line);
    sqlite3_finalize(insert);
    if (sqlite3_exec(db, failed ? "ROLLBACK;" : "COMMIT;", NULL, NULL, NULL) != SQLITE_OK) failed = 1;
    sqlite3_close(db);
    return failed;
}
