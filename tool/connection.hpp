// The database a run works on, and the steps of its one connection, shared
// by the units that use SQLite (the store, the import; defined in
// store.cpp). Nothing above them sees SQLite.
#pragma once

struct sqlite3;

namespace corvane::userdb {

// The database as the command line named it: `path` as typed, resolved and
// checked when opened and shown so in messages; how long to wait for a
// lock held elsewhere, 0 to fail at once; and whether a change is to be
// rolled back once made (-n), the file not created when missing.
struct database {
    const char* path;
    int wait_seconds;
    bool dry_run = false;
};

// The one connection, from open_account_db to close_account_db.
extern sqlite3* account_db;

// What a connection is opened for: a command that may change the file, or
// `check`, which never creates it and reads it on two threads.
enum class purpose { change, check };

// Opens `db` for reading and writing into account_db, created when missing
// unless it is opened for a check or the run is a dry one (then a missing
// file fails with result=14), or ends the process with status 1: "Unsafe database
// directory: ..." when every user could tamper with the file or its
// journal there (see locate_database), "Unable to open database: PATH
// (result=N)" for any other failure. The name is a plain file name, never
// a URI; a link put in its place after the check is refused; the
// connection refuses crafted schemas (defensive, schema not trusted) and
// checks the cells of each page as it loads it (cell_size_check). At
// most once a process: it first sets SQLite up, library-wide, without URIs
// and for one thread (for a check, two), which only an uninitialised SQLite
// accepts.
void open_account_db(const database& db, purpose use = purpose::change);

// A second connection to the file account_db has open for a check, with the
// same settings but no wait, for the other thread; null when it cannot be
// opened.
sqlite3* open_second_connection();

// Runs `sql` on account_db as sqlite3_exec does, after PRAGMA
// synchronous=EXTRA: a commit also syncs the directory once the journal is
// gone, so an acknowledged change survives a power cut. The setting reads
// the schema, so it fails exactly as `sql` would, and then `sql` is not run.
int execute(const char* sql, int (*rows)(void*, int, char**, char**), void* context, char** error);

// Writes "ERROR: TEXT" for a failed execute (the connection's latest
// message when `error` is null) and frees `error`.
void report_error(char* error);

// True when changes may go to `users`: it is an ordinary table, or there is
// none (the change then fails with SQLite's "no such table: users"). A view
// is refused, since SQLite does not count the rows its INSTEAD OF triggers
// change and a change made would be reported as failed; so is a virtual
// table, whose module, not SQLite's own storage, would keep the accounts.
// Refused, it writes "ERROR: users is not a table"; a schema that cannot be
// read, "ERROR: " and the database's message. Every command that changes
// accounts asks it on account_db before its change, inside its transaction
// if it has one.
[[nodiscard]] bool users_is_changeable();

void close_account_db();

// True when `users` has a UNIQUE index on the nickname alone that covers
// every row, so that no two rows hold the same nickname text; with
// `compared_bytewise`, only when the table also names no collation, so
// that `nickname = ?` compares bytes and matches one row at most.
[[nodiscard]] bool nickname_is_unique(bool compared_bytewise);

// Opens `db` as open_account_db does and begins the transaction of a
// command that writes many rows (import, update), taking the write lock at
// once; on failure writes "ERROR: ..." as execute's caller would, closes
// the connection and returns false. The settings that make such a
// transaction fast are made here, and only here (docs/performance.md has
// the measurements): a statement journal (the original of every page that
// a statement able to fail half-way changes) stays in memory up to 8 MiB,
// in one piece, instead of going to a temporary file past 64 KiB; the page
// cache holds up to 32 MiB, which bounds the memory the database takes
// however long the input.
[[nodiscard]] bool begin_bulk_write(const database& db);

}  // namespace corvane::userdb
