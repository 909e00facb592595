/* The least a program can do to run one account command: open the database,
 * run one statement, read the changed-row count, close, with the connection
 * set up as the tool sets up its own (floor_connection.h). The command-latency
 * benchmark and the `perf` test hold corvane-userdb against it.
 *
 *   floor FILE STATEMENT
 *
 * Exits with 0 when exactly one row changed, like the tool's add and del. */
#include <sqlite3.h>
#include <stdio.h>

#include "floor_connection.h"

static int ignore_rows(void *context, int columns, char **values, char **names) {
    (void)context;
    (void)columns;
    (void)values;
    (void)names;
    return 0;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fputs("usage: floor FILE STATEMENT\n", stderr);
        return 2;
    }
    sqlite3 *db = NULL;
    if (open_floor_connection(argv[1], &db) != SQLITE_OK) return 1;
    char *error = NULL;
    if (sqlite3_exec(db, argv[2], ignore_rows, NULL, &error) != SQLITE_OK) {
        fprintf(stderr, "ERROR: %s\n", error);
        sqlite3_free(error);
    }
    const int changed = sqlite3_changes(db);
    sqlite3_close(db);
    return changed == 1 ? 0 : 1;
}
