#include "account_import.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "messages.hpp"

namespace corvane::userdb {

namespace {

// True when the users table lets a multi-row INSERT OR FAIL name the row
// it refuses: no conflict clause of its own (OR FAIL would override it), no
// trigger (one may add its row and then refuse it, or roll the whole
// transaction back, which leaves no trace of the row that did it) and no
// foreign key. Any mention of those words counts.
int is_plain_table(bool* plain) {
    sqlite3_stmt* query = nullptr;
    int result = sqlite3_prepare_v2(
        account_db,
        "SELECT count(*) FROM sqlite_master WHERE tbl_name = 'users' COLLATE NOCASE AND "
        "(type = 'trigger' OR sql LIKE '%CONFLICT%' OR sql LIKE '%REFERENCES%');",
        -1, &query, nullptr);
    if (result == SQLITE_OK && (result = sqlite3_step(query)) == SQLITE_ROW) {
        *plain = sqlite3_column_int(query, 0) == 0;
        result = SQLITE_OK;
    }
    sqlite3_finalize(query);
    return result;
}

// Prepares the INSERT of `rows` accounts, their values bound as parameters.
// With OR FAIL a refused row stops the statement with the rows before it
// added, so that their count names the row refused.
int prepare_insert(bool or_fail, unsigned rows, sqlite3_stmt** insert) {
    constexpr std::string_view failing =
        "INSERT OR FAIL INTO users (nickname, password, credentials) "
        "VALUES(?, ?, ?)";
    constexpr std::string_view plain =
        "INSERT INTO users (nickname, password, credentials) "
        "VALUES(?, ?, ?)";
    constexpr std::string_view next = ",(?, ?, ?)";
    const std::string_view first = or_fail ? failing : plain;
    char sql[failing.size() + (IMPORT_BATCH - 1) * next.size() + 1];
    std::memcpy(sql, first.data(), first.size());
    std::size_t length = first.size();
    for (unsigned row = 1; row < rows; ++row, length += next.size()) {
        std::memcpy(sql + length, next.data(), next.size());
    }
    sql[length] = '\0';
    return sqlite3_prepare_v2(account_db, sql, static_cast<int>(length + 1), insert, nullptr);
}

// Runs a statement that returns no rows, and makes it ready to run again.
int run(sqlite3_stmt* statement) {
    const int result = sqlite3_step(statement);
    sqlite3_reset(statement);
    return result;
}

// True when the multi-row INSERT OR FAIL that just failed after adding
// `added` of its `size` rows stopped at the next one, refused: a constraint
// that honours OR FAIL refused it and the transaction is still there. Any
// other failure may have undone the statement (or the whole transaction) or
// left part of it, and names no row.
bool stopped_at_refused_row(unsigned added, unsigned size) {
    if (added >= size || sqlite3_get_autocommit(account_db) != 0) return false;
    switch (sqlite3_extended_errcode(account_db)) {
        case SQLITE_CONSTRAINT_CHECK:
        case SQLITE_CONSTRAINT_NOTNULL:
        case SQLITE_CONSTRAINT_PRIMARYKEY:
        case SQLITE_CONSTRAINT_ROWID:
        case SQLITE_CONSTRAINT_UNIQUE:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool account_import::open() {
    // The write lock is taken now: a lock held elsewhere fails the import
    // before any input is read.
    if (!begin_bulk_write(db_)) return false;
    open_ = true;
    if (!users_is_changeable()) {
        close();
        return false;
    }
    bool plain = false;
    int result = is_plain_table(&plain);
    if (!plain) largest_ = 1;
    for (unsigned size = 1; size <= largest_ && result == SQLITE_OK; size *= 2) {
        result = prepare_insert(plain, size, &inserts_[std::countr_zero(size)]);
    }
    if (result != SQLITE_OK) {
        report("ERROR: %s\n", sqlite3_errmsg(account_db));
        close();
        return false;
    }
    return true;
}

bool account_import::add(unsigned long long line, std::string_view nickname,
                         std::string_view password, const char* credentials) {
    if (lost_) return false;
    // Never cut a field short: that would store another account.
    if (nickname.size() > NICKNAME_LIMIT || password.size() > PASSWORD_LIMIT) std::abort();
    held_account& account = accounts_[held_++];
    account.line = line;
    account.credentials = credentials;
    account.nickname_length = nickname.size();
    account.password_length = password.size();
    std::memcpy(account.nickname, nickname.data(), nickname.size());
    std::memcpy(account.password, password.data(), password.size());
    return held_ < IMPORT_BATCH || flush();
}

bool account_import::flush() {
    if (lost_) return false;
    const unsigned held = held_;
    held_ = 0;
    lost_ = !insert_rows(0, held);
    return !lost_;
}

bool account_import::finish(bool commit) {
    if (!open_) return false;
    bool committed = false;
    if (commit && flush() && refusals_ == 0 && sqlite3_get_autocommit(account_db) == 0) {
        char* error = nullptr;
        committed = sqlite3_exec(account_db, "COMMIT;", nullptr, nullptr, &error) == SQLITE_OK;
        if (!committed) report_error(error);
    }
    // A transaction still open after a failed COMMIT is rolled back by the close.
    close();
    return committed;
}

// Sends accounts_[first, end) in pieces of a power of two rows, the largest
// first, up to largest_. A piece that stops at a refused row has added the
// rows before it: that row is reported and the rows after it go on in
// pieces. False when the session cannot go on.
bool account_import::insert_rows(unsigned first, unsigned end) {
    while (first < end) {
        const unsigned size = std::min(std::bit_floor(end - first), largest_);
        if (insert_piece(first, size) == SQLITE_DONE) {
            first += size;
            continue;
        }
        if (size > 1) {
            const auto added = static_cast<unsigned>(sqlite3_changes(account_db));
            if (!stopped_at_refused_row(added, size)) return abandon();
            first += added;
        }
        if (!refused(first)) return false;
        ++first;
    }
    return true;
}

// Binds accounts_[first, first + size) to the INSERT of `size` rows and runs it.
int account_import::insert_piece(unsigned first, unsigned size) {
    sqlite3_stmt* insert = inserts_[std::countr_zero(size)];
    int parameter = 1;
    for (const held_account* account = accounts_ + first; account != accounts_ + first + size;
         ++account) {
        sqlite3_bind_text(insert, parameter++, account->nickname,
                          static_cast<int>(account->nickname_length), SQLITE_STATIC);
        sqlite3_bind_text(insert, parameter++, account->password,
                          static_cast<int>(account->password_length), SQLITE_STATIC);
        sqlite3_bind_text(insert, parameter++, account->credentials, -1, SQLITE_STATIC);
    }
    return run(insert);
}

// Reports the row with the database's latest message. True when the
// transaction is still there: a constraint failure undoes one statement, a
// full disk or an I/O error can undo the whole transaction, and later
// INSERTs would then each commit on their own.
bool account_import::refused(unsigned row) {
    ++refusals_;
    report_(accounts_[row].line, sqlite3_errmsg(account_db));
    return sqlite3_get_autocommit(account_db) == 0;
}

// Says that the import stops where no line can be named.
bool account_import::abandon() {
    report("ERROR: %s (import abandoned)\n", sqlite3_errmsg(account_db));
    return false;
}

void account_import::close() {
    // The session ends here: nothing runs its statements again.
    for (sqlite3_stmt* insert : inserts_) sqlite3_finalize(insert);
    close_account_db();
    open_ = false;
}

}  // namespace corvane::userdb
