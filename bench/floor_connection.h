/* The connection every floor program opens, set up as corvane-userdb sets up
 * its own, so that each comparison is like for like: the name taken as a
 * file name (never a URI), no mutexes (one thread), defensive mode on, the
 * schema not trusted, each page's cells checked as it is loaded, and commits
 * that sync the directory after the journal is removed. */
#ifndef CORVANE_FLOOR_CONNECTION_H
#define CORVANE_FLOOR_CONNECTION_H

#include <sqlite3.h>

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

#endif
