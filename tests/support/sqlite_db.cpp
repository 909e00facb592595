#include "support/sqlite_db.hpp"

#include <sqlite3.h>

#include <stdexcept>

namespace corvane::test {

sqlite_db::sqlite_db(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        const std::string message = sqlite3_errmsg(db_);
        sqlite3_close(db_);
        throw std::runtime_error("cannot open " + path + ": " + message);
    }
}

sqlite_db::~sqlite_db() { sqlite3_close(db_); }

void sqlite_db::exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error != nullptr ? error : "unknown error";
        sqlite3_free(error);
        throw std::runtime_error(sql + ": " + message);
    }
}

std::vector<row> sqlite_db::query(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
    }
    std::vector<row> rows;
    int step = 0;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        row values;
        for (int column = 0; column < sqlite3_column_count(statement); ++column) {
            const auto* text = sqlite3_column_text(statement, column);
            if (text == nullptr) {
                values.emplace_back(std::nullopt);
            } else {
                values.emplace_back(
                    std::string(reinterpret_cast<const char*>(text),
                                static_cast<std::size_t>(sqlite3_column_bytes(statement, column))));
            }
        }
        rows.push_back(std::move(values));
    }
    sqlite3_finalize(statement);
    if (step != SQLITE_DONE) throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_));
    return rows;
}

std::string integrity_check(const std::string& path) {
    sqlite_db db(path);
    std::string findings;
    for (const row& values : db.query("PRAGMA integrity_check")) {
        if (!findings.empty()) findings += '\n';
        findings += values.at(0).value_or("<NULL>");
    }
    return findings;
}

std::vector<std::vector<std::string>> read_accounts(const std::string& path) {
    sqlite_db db(path);
    std::vector<std::vector<std::string>> accounts;
    for (const row& values :
         db.query("SELECT nickname, password, credentials FROM users ORDER BY rowid")) {
        accounts.push_back({values[0].value_or("<NULL>"), values[1].value_or("<NULL>"),
                            values[2].value_or("<NULL>")});
    }
    return accounts;
}

}  // namespace corvane::test
