// Runs the corvane-userdb binary built by this tree on files in a fresh
// temporary directory, and compares what it did byte for byte.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
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

    // del, mod and pass of `nickname`, which no account has: each fails with
    // its own message alone, showing the nickname as typed.
    void expect_no_account_named(const std::string& nickname) {
        EXPECT_EQ(run("del", {nickname}), failure("Unable to delete user \"" + nickname + "\".\n"));
        EXPECT_EQ(run("mod", {nickname, "admin"}),
                  failure("Unable to set credentials for user \"" + nickname + "\"\n"));
        EXPECT_EQ(run("pass", {nickname, "owned"}),
                  failure("Unable to change password for user \"" + nickname + "\"\n"));
    }

    // A database with an empty users table.
    void create_table() { ASSERT_EQ(run("create"), quiet_success); }
};

}  // namespace corvane::test
