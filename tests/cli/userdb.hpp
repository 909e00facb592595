// Runs the corvane-userdb binary built by this tree on files in a fresh
// temporary directory, and compares what it did byte for byte.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/process.hpp"
#include "support/sqlite_db.hpp"
#include "support/temp_dir.hpp"

namespace corvane::test {

inline bool operator==(const run_result& a, const run_result& b) {
    return a.status == b.status && a.out == b.out && a.err == b.err;
}

inline void PrintTo(const run_result& r, std::ostream* os) {
    *os << "{status " << r.status << ", out " << testing::PrintToString(r.out) << ", err "
        << testing::PrintToString(r.err) << "}";
}

// Accounts as (nickname, password, credentials), as read_accounts gives them.
using accounts = std::vector<std::vector<std::string>>;

// `piece` written `times` times over.
inline std::string repeat(const std::string& piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += piece;
    return text;
}

// A successful run that printed nothing.
inline const run_result quiet_success{0, "", ""};

// A failed run that printed `err` on standard error only.
inline run_result failure(const std::string& err) { return {1, "", err}; }

inline run_result userdb(const std::vector<std::string>& args, const run_options& options = {}) {
    return run_program(CORVANE_USERDB_PATH, args, options);
}

// The tool run with some standard descriptors closed: `redirections` is
// what a shell would write after the command, e.g. "<&-" or ">&-".
inline run_result userdb_with_closed(const std::string& redirections,
                                     const std::vector<std::string>& args) {
    std::vector<std::string> shell_args{"-c", "exec \"$0\" \"$@\" " + redirections,
                                        CORVANE_USERDB_PATH};
    shell_args.insert(shell_args.end(), args.begin(), args.end());
    return run_program("/bin/sh", shell_args);
}

// Every command once, as run on a table that holds alice and bob: add a
// third account, change or remove one of the two. The tests of files that
// cannot be opened, locks, full disks and read-only storage run each row.
// The rows are the `command` lines of the case files (cases_test.cpp reads
// them), so a new command's case file gives it its row.
struct command_row {
    std::vector<std::string> args;  // the command word and its arguments
    std::string input;              // its standard input
    bool changes;                   // whether it adds, changes or removes an account
    // The line it writes after a database error, when it changed nothing:
    // %s stands for the nickname (args[1]); "" for none.
    std::string refusal;
};
const std::vector<command_row>& every_command();

// The tool run on `file` with `entry`'s arguments and input, and `options`.
inline run_result run_row(const std::string& file, const command_row& entry,
                          run_options options = {}) {
    std::vector<std::string> args = entry.args;
    args.insert(args.begin(), file);
    options.stdin_text = entry.input;
    return userdb(args, options);
}

// What `command` says when it changed no account named `nickname`, after
// any error line of the database.
inline std::string refusal(const std::string& command, const std::string& nickname) {
    for (const command_row& entry : every_command()) {
        if (entry.args[0] != command) continue;
        const std::size_t at = entry.refusal.find("%s");
        return at == std::string::npos ? entry.refusal
                                       : std::string(entry.refusal).replace(at, 2, nickname);
    }
    throw std::out_of_range("no command " + command + " in the case files");
}
inline std::string refusal(const command_row& entry) {
    return refusal(entry.args[0], entry.args.size() > 1 ? entry.args[1] : "");
}

// The eight classes an account may have.
inline const char* const class_words[] = {"admin", "super", "op",    "user",
                                          "bot",   "ubot",  "opbot", "opubot"};

class UserDbTest : public testing::Test {
protected:
    temp_dir dir;
    std::string db = dir.file("users.db");

    // Runs the tool on the test's database: db COMMAND ARGS...
    run_result run(const std::string& command, std::vector<std::string> args = {}) {
        args.insert(args.begin(), {db, command});
        return userdb(args);
    }

    // Runs the tool on the test's database with `input` on standard input:
    // [OPTIONS] db COMMAND ARGS...
    run_result run_with_input(const std::string& input, std::vector<std::string> options,
                              const std::string& command, std::vector<std::string> args = {}) {
        options.push_back(db);
        options.push_back(command);
        options.insert(options.end(), args.begin(), args.end());
        run_options with_input;
        with_input.stdin_text = input;
        return userdb(options, with_input);
    }

    // A database with an empty users table.
    void create_table() { ASSERT_EQ(run("create"), quiet_success); }
};

}  // namespace corvane::test
