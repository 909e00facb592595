#include "account_import.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "messages.hpp"

namespace corvane::userdb {

namespace {

// True when the users table lets a multi-row statement name the line it
// refuses: no conflict clause of its own (OR FAIL would override it), no
// trigger (one may change its row and then refuse it, or roll the whole
// transaction back, which leaves no trace of the line that did it) and no
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

// Prepares the statement that sends `rows` accounts, their values
// (nickname, password, class) bound as parameters: an INSERT, or an UPDATE
// of the password and, unless it is NULL, the class; OR FAIL to a plain
// table, so that a refused row keeps the rows before it and no statement
// journal copies the pages a statement changes.
int prepare_piece(account_import::kind what, bool plain, unsigned rows, sqlite3_stmt** statement) {
    const bool add = what == account_import::kind::add;
    const std::string_view first =
        add && plain ? "INSERT OR FAIL INTO users (nickname, password, credentials) "
                       "VALUES(?, ?, ?)"
        : add        ? "INSERT INTO users (nickname, password, credentials) VALUES(?, ?, ?)"
        : !plain     ? "UPDATE users SET password = ?2, credentials = coalesce(?3, credentials) "
                       "WHERE nickname = ?1"
        : rows == 1  ? "UPDATE OR FAIL users SET password = ?2, credentials = coalesce(?3, "
                       "credentials) WHERE nickname = ?1"
                     : "UPDATE OR FAIL users SET password = v.column2, credentials = "
                       "coalesce(v.column3, users.credentials) FROM (VALUES(?, ?, ?)";
    const std::string_view last = add || rows == 1 ? "" : ") AS v WHERE users.nickname = v.column1";
    constexpr std::string_view next = ",(?, ?, ?)";
    char sql[256 + (IMPORT_BATCH - 1) * next.size()];
    std::memcpy(sql, first.data(), first.size());
    std::size_t length = first.size();
    for (unsigned row = 1; row < rows; ++row, length += next.size()) {
        std::memcpy(sql + length, next.data(), next.size());
    }
    std::memcpy(sql + length, last.data(), last.size());
    length += last.size();
    sql[length] = '\0';
    return sqlite3_prepare_v2(account_db, sql, static_cast<int>(length + 1), statement, nullptr);
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
    // An UPDATE of many lines at once counts its changed rows as its lines
    // only when each line can change one row at most.
    if (!plain || (kind_ == kind::change && !nickname_is_unique(true))) largest_piece_ = 1;
    for (unsigned size = 0; size < INSERT_SIZES && result == SQLITE_OK; ++size) {
        if ((1U << size) <= largest_piece_)
            result = prepare_piece(kind_, plain, 1U << size, &inserts_[size]);
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
        committed = sqlite3_exec(account_db, db_.dry_run ? "ROLLBACK;" : "COMMIT;", nullptr,
                                 nullptr, &error) == SQLITE_OK;
        if (!committed) report_error(error);
    }
    // A transaction still open after a failed COMMIT is rolled back by the close.
    close();
    return committed;
}

// Sends accounts_[first, end) in pieces of a power of two rows, the largest
// first. An INSERT that stops at a refused row has added the rows before
// it: that row is reported and the rows after it go on in pieces. An
// UPDATE the database refuses, or that changes fewer rows than it has
// lines, is sent again one line at a time up to the line refused. False
// when the session cannot go on.
bool account_import::insert_rows(unsigned first, unsigned end) {
    while (first < end) {
        const unsigned size = std::bit_floor(std::min(end - first, largest_piece_));
        if (size == 1) {
            if (!sent(first, 1) && !refused(first)) return false;
            ++first;
            continue;
        }
        if (sent(first, size)) {
            first += size;
            continue;
        }
        if (kind_ == kind::add) {
            const auto added = static_cast<unsigned>(sqlite3_changes(account_db));
            if (!stopped_at_refused_row(added, size)) return abandon();
            first += added;
            if (!refused(first)) return false;
            ++first;
            continue;
        }
        // A full disk or an I/O error can take the whole transaction with it.
        if (sqlite3_get_autocommit(account_db) != 0) return abandon();
        // The UPDATE OR FAIL keeps what it changed before it stopped, in no
        // order the lines give. Sent again one at a time, in order, the
        // lines leave each account as the lines in order would, up to the
        // first refused; and a refused line means nothing is committed.
        for (const unsigned piece_end = first + size; first < piece_end;) {
            const bool changed = sent(first, 1);
            if (!changed && !refused(first)) return false;
            ++first;
            if (!changed) break;
        }
    }
    return true;
}

// Binds accounts_[first, first + size) to the statement of `size` rows and
// runs it.
int account_import::insert_piece(unsigned first, unsigned size) {
    sqlite3_stmt* insert = inserts_[std::countr_zero(size)];
    int parameter = 1;
    for (const held_account* account = accounts_ + first; account != accounts_ + first + size;
         ++account) {
        sqlite3_bind_text(insert, parameter++, account->nickname,
                          static_cast<int>(account->nickname_length), SQLITE_STATIC);
        sqlite3_bind_text(insert, parameter++, account->password,
                          static_cast<int>(account->password_length), SQLITE_STATIC);
        // A null class binds NULL.
        sqlite3_bind_text(insert, parameter++, account->credentials, -1, SQLITE_STATIC);
    }
    return run(insert);
}

// Sends a piece; true when the database took it whole: every row added, or
// every line changed an account, each its own.
bool account_import::sent(unsigned first, unsigned size) {
    last_result_ = insert_piece(first, size);
    return last_result_ == SQLITE_DONE &&
           (kind_ == kind::add || sqlite3_changes(account_db) == static_cast<int>(size));
}

// Reports the row with the database's latest message. True when the
// transaction is still there: a constraint failure undoes one statement, a
// full disk or an I/O error can undo the whole transaction, and later
// INSERTs would then each commit on their own.
bool account_import::refused(unsigned row) {
    ++refusals_;
    // A change that met no error changed no account, or several.
    const held_account& account = accounts_[row];
    report_(account.line, {account.nickname, account.nickname_length},
            last_result_ == SQLITE_DONE ? nullptr : sqlite3_errmsg(account_db));
    return sqlite3_get_autocommit(account_db) == 0;
}

// Says that the session stops where no line can be named.
bool account_import::abandon() {
    report("ERROR: %s (%s abandoned)\n", sqlite3_errmsg(account_db),
           kind_ == kind::add ? "import" : "update");
    return false;
}

void account_import::close() {
    // The session ends here: nothing runs its statements again.
    for (sqlite3_stmt* insert : inserts_) sqlite3_finalize(insert);
    close_account_db();
    open_ = false;
}

}  // namespace corvane::userdb
