// The session of an import or an update: many accounts added, or changed,
// in one transaction, all or nothing, each line the database refuses
// reported with its number.
#pragma once

#include <bit>
#include <cstddef>
#include <string_view>

#include "checks.hpp"
#include "connection.hpp"

struct sqlite3_stmt;

namespace corvane::userdb {

// How many accounts go to the database in one INSERT or UPDATE
// (docs/performance.md gives the measurements behind the number).
inline constexpr unsigned IMPORT_BATCH = 512;

// open() opens the database, takes the write lock at once (before any input
// is read) and prepares the INSERTs; on failure it writes "ERROR: ..." and
// returns false. add() keeps a copy of the account and sends the accounts
// to the database IMPORT_BATCH at a time; flush() sends what add() holds,
// so that the caller reports a later line only after every earlier one.
// Each line the database refuses goes to the reporter, in input order, with
// the database's message (valid during the call), and the session goes on
// with the lines after it, so that one run reports every refusal.
//
// An update (kind::change) sends each line as the change of the account
// whose nickname it names: its password, and its class unless that is
// null. A line that changes no account, or more than one, is refused with
// a null message. The accounts go to the database IMPORT_BATCH at a time as
// well, in one UPDATE that joins them by nickname, when that nickname is
// unique and compared bytewise (nickname_is_unique): a piece that then
// changes fewer rows than it has lines (one names no account, or two the
// same), or is refused, is sent again a line at a time (what it changed
// first is overwritten in line order); without such an index, a line at a
// time from the start.
//
// An import (kind::add) sends its pieces as INSERT OR FAIL: a refused row
// stops the statement with the rows before it added, and their count names
// the line refused. An update's are UPDATE OR FAIL, for the same reason:
// no statement journal. To a table with a trigger, a conflict clause of its own
// or a foreign key (is_plain_table), either kind sends a line at a time.
//
// add() and flush() return false once the session cannot go on: SQLite
// rolled the transaction back (a trigger's RAISE(ROLLBACK), a full disk, an
// I/O error), after which each statement would commit on its own, or a
// failure left unknown what a piece changed. The line that met it has been
// reported when it is known (its statement held that line alone), else
// "ERROR: MESSAGE (import abandoned)" (or "update"). finish(true) sends what is held and
// commits when no line was refused (with -n, rolls back as though it had
// committed); it writes "ERROR: ..." and returns false when the commit
// fails. finish(false) rolls back. A session the
// process leaves without finish() (ended by exit or killed) never commits:
// SQLite rolls it back from its journal. (No destructor does it: the
// cleanup path of one would link the C++ exception runtime into the tool.)
class account_import {
public:
    enum class kind { add, change };
    using refusal_reporter = void (*)(unsigned long long line, std::string_view nickname,
                                      const char* message);

    account_import(const database& db, refusal_reporter report, kind what = kind::add)
        : db_(db), report_(report), kind_(what) {}
    account_import(const account_import&) = delete;
    account_import& operator=(const account_import&) = delete;

    [[nodiscard]] bool open();
    // The fields have passed judge_account: at most NICKNAME_LIMIT and
    // PASSWORD_LIMIT bytes; `credentials` is a canonical class word (or,
    // for a change, null: the class stays).
    bool add(unsigned long long line, std::string_view nickname, std::string_view password,
             const char* credentials);
    bool flush();
    [[nodiscard]] bool finish(bool commit);

private:
    struct held_account {
        unsigned long long line;
        const char* credentials;
        std::size_t nickname_length;
        std::size_t password_length;
        char nickname[NICKNAME_LIMIT];
        char password[PASSWORD_LIMIT];
    };
    // One INSERT for each power of two rows up to IMPORT_BATCH.
    static constexpr unsigned INSERT_SIZES = std::bit_width(IMPORT_BATCH);
    static_assert(std::has_single_bit(IMPORT_BATCH));

    bool insert_rows(unsigned first, unsigned end);
    int insert_piece(unsigned first, unsigned size);
    bool sent(unsigned first, unsigned size);
    bool refused(unsigned row);
    bool abandon();
    void close();

    database db_;
    refusal_reporter report_;
    kind kind_;
    unsigned largest_piece_ = IMPORT_BATCH;
    int last_result_ = 0;
    bool open_ = false;
    bool lost_ = false;
    unsigned long long refusals_ = 0;
    unsigned held_ = 0;
    sqlite3_stmt* inserts_[INSERT_SIZES] = {};
    held_account accounts_[IMPORT_BATCH];
};

}  // namespace corvane::userdb
