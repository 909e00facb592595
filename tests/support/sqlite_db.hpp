// A direct SQLite connection for tests: seeds databases, holds locks and
// reads back what the tool stored.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace corvane::test {

using row = std::vector<std::optional<std::string>>;

class sqlite_db {
public:
    explicit sqlite_db(const std::string& path);
    ~sqlite_db();
    sqlite_db(const sqlite_db&) = delete;
    sqlite_db& operator=(const sqlite_db&) = delete;

    // Runs `sql`; throws with the database's message when it fails.
    void exec(const std::string& sql);
    // Runs a query and returns its rows; NULL values are empty optionals.
    [[nodiscard]] std::vector<row> query(const std::string& sql);

private:
    sqlite3* db_ = nullptr;
};

// What `PRAGMA integrity_check` says of the database at `path`, one line per
// finding: "ok" when it is intact.
[[nodiscard]] std::string integrity_check(const std::string& path);

// Every account as (nickname, password, credentials), ordered by rowid.
[[nodiscard]] std::vector<std::vector<std::string>> read_accounts(const std::string& path);

}  // namespace corvane::test
