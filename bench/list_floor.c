/* The plain way to list the accounts: one query, one printf per row, stdio's
 * default buffering, on a connection set up as the tool sets up its own. The command-latency benchmark holds `corvane-userdb
 * FILE list` against it; both print the same bytes.
 *
 *   list_floor FILE */
#include <sqlite3.h>
#include <stdio.h>

#include "floor_connection.h"

static int print_row(void *context, int columns, char **values, char **names) {
    (void)context;
    (void)columns;
    (void)names;
    printf("%s\t%s\n", values[0], values[1]);
    return 0;
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fputs("usage: list_floor FILE\n", stderr);
        return 2;
    }
    sqlite3 *db = NULL;
    if (open_floor_connection(argv[1], &db) != SQLITE_OK) return 1;
    char *error = NULL;
    const int result =
        sqlite3_exec(db, "SELECT credentials, nickname FROM users;", print_row, NULL, &error);
    sqlite3_free(error);
    sqlite3_close(db);
    return result == SQLITE_OK ? 0 : 1;
}
