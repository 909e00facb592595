/* The least a program can do to change accounts one line at a time: read
 * lines of NICKNAME<TAB>PASSWORD[<TAB>CLASS] from standard input and run one
 * prepared single-row UPDATE a line (the password, and the class when the
 * line gives one), all in one transaction, on a connection set up as the
 * tool sets up its own (floor_connection.h), reading the changed-row count
 * of each. No field is checked; a line that changes no row fails the run.
 * The update benchmark holds `corvane-userdb FILE update` against it.
 *
 *   update_floor FILE < LINES */
#define _POSIX_C_SOURCE 200809L
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "floor_connection.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        fputs("usage: update_floor FILE < LINES\n", stderr);
        return 2;
    }
    sqlite3 *db = NULL;
    sqlite3_stmt *password = NULL;
    sqlite3_stmt *both = NULL;
    if (open_floor_connection(argv[1], &db) != SQLITE_OK ||
        sqlite3_exec(db, "BEGIN IMMEDIATE;", NULL, NULL, NULL) != SQLITE_OK ||
        sqlite3_prepare_v2(db, "UPDATE users SET password = ? WHERE nickname = ?", -1, &password,
                           NULL) != SQLITE_OK ||
        sqlite3_prepare_v2(db, "UPDATE users SET password = ?, credentials = ? WHERE nickname = ?",
                           -1, &both, NULL) != SQLITE_OK) {
        fprintf(stderr, "ERROR: %s\n", sqlite3_errmsg(db));
        return 1;
    }
    char *line = NULL;
    size_t capacity = 0;
    int failed = 0;
    for (char *fields[3]; read_fields(&line, &capacity, fields);) {
        const char *secret = fields[1], *credentials = fields[2];
        sqlite3_stmt *update = credentials != NULL ? both : password;
        int parameter = 1;
        sqlite3_bind_text(update, parameter++, secret, -1, SQLITE_STATIC);
        if (credentials != NULL) sqlite3_bind_text(update, parameter++, credentials, -1, SQLITE_STATIC);
        sqlite3_bind_text(update, parameter, fields[0], -1, SQLITE_STATIC);
        if (sqlite3_step(update) != SQLITE_DONE || sqlite3_changes(db) != 1) failed = 1;
        sqlite3_reset(update);
    }
    free(line);
    sqlite3_finalize(password);
    sqlite3_finalize(both);
    if (sqlite3_exec(db, failed ? "ROLLBACK;" : "COMMIT;", NULL, NULL, NULL) != SQLITE_OK) failed = 1;
    sqlite3_close(db);
    return failed;
}
