/* The connection every floor program opens, and the lines it reads: the
 * connection set up as corvane-userdb sets up
 * its own, so that each comparison is like for like: the name taken as a
 * file name (never a URI), no mutexes (one thread), defensive mode on, the
 * schema not trusted, each page's cells checked as it is loaded, and commits
 * that sync the directory after the journal is removed. */
#ifndef CORVANE_FLOOR_CONNECTION_H
#define CORVANE_FLOOR_CONNECTION_H

#include <sqlite3.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>

static int open_floor_connection(const char* path, sqlite3** db) {
    int result = sqlite3_config(SQLITE_CONFIG_SINGLETHREAD);
    if (result == SQLITE_OK) result = sqlite3_config(SQLITE_CONFIG_URI, 0);
    if (result == SQLITE_OK)
        result = sqlite3_open_v2(path, db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, NULL);
    if (result == SQLITE_OK) result = sqlite3_db_config(*db, SQLITE_DBCONFIG_DEFENSIVE, 1, NULL);
    if (result == SQLITE_OK)
        result = sqlite3_db_config(*db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, NULL);
    if (result == SQLITE_OK)
        result = sqlite3_exec(*db, "PRAGMA cell_size_check=ON;", NULL, NULL, NULL);
    if (result == SQLITE_OK)
        result = sqlite3_exec(*db, "PRAGMA synchronous=EXTRA;", NULL, NULL, NULL);
    return result;
}

/* Reads the next line of NICKNAME<TAB>PASSWORD[<TAB>CLASS] from standard
 * input into `fields` (the class NULL when the line has none), each field
 * ended in place; empty lines and lines without a tab are skipped. 0 at the
 * end of the input. */
static inline int read_fields(char** line, size_t* capacity, char* fields[3]) {
    ssize_t length;
    while ((length = getline(line, capacity, stdin)) > 0) {
        char* text = *line;
        if (text[length - 1] == '\n') text[--length] = '\0';
        char* password = length == 0 ? NULL : strchr(text, '\t');
        if (password == NULL) continue;
        *password++ = '\0';
        char* credentials = strchr(password, '\t');
        if (credentials != NULL) *credentials++ = '\0';
        fields[0] = text;
        fields[1] = password;
        fields[2] = credentials;
        return 1;
    }
    return 0;
}

#endif
