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

// Every command once, with arguments for a table that holds alice and bob:
// add a third account, change or remove one of the two.
inline const std::vector<std::vector<std::string>> every_command = {{"create"},
                                                                    {"list"},
                                                                    {"add", "carol", "c-pass"},
                                                                    {"del", "bob"},
                                                                    {"mod", "alice", "op"},
                                                                    {"pass", "alice", "new"},
                                                                    {"import"}};

// What `command` says when it changed no account named `nickname`, after
// any error line of the database; empty for the commands that name none.
inline std::string refusal(const std::string& command, const std::string& nickname) {
    if (command == "add") return "Unable to add user \"" + nickname + "\"\n";
    if (command == "del") return "Unable to delete user \"" + nickname + "\".\n";
    if (command == "mod") return "Unable to set credentials for user \"" + nickname + "\"\n";
    if (command == "pass") return "Unable to change password for user \"" + nickname + "\"\n";
    return "";
}
inline std::string refusal(const std::vector<std::string>& command) {
    return refusal(command[0], command.size() > 1 ? command[1] : "");
}

// The eight classes an account may have.
inline const char* const class_words[] = {"admin", "super", "op",    "user",
                                          "bot",   "ubot",  "opbot", "opubot"};

// The messages of refused fields.
inline const std::string name_too_long = "User name is too long.\n";
inline const std::string name_starts_blank = "User name cannot start with white space.\n";
inline const std::string name_illegal = "User name contains illegal characters.\n";
inline const std::string name_not_utf8 = "User name must be utf-8 encoded.\n";
inline const std::string password_too_long = "Password is too long.\n";
inline const std::string password_not_utf8 = "Password must be utf-8 encoded.\n";
inline const std::string credentials_fault =
    "Invalid user credentials. Must be one of: 'bot', 'ubot', 'opbot', 'opubot', 'admin', "
    "'super', 'op' or 'user'\n";

// The usage text, written out rather than read from the tool's source.
inline std::string usage_text(const std::string& program = CORVANE_USERDB_PATH) {
    return "Usage: " + program +
           " filename command [...]\n\nCommand syntax:\n  create\n"
           "  add  username password [credentials = user]\n  del  username\n"
           "  mod  username credentials\n  pass username password\n  list\n\n"
           "Parameters:\n  'filename' is a database file\n"
           "  'username' is a nickname (UTF-8, up to 64 bytes)\n"
           "  'password' is a password (UTF-8, up to 64 bytes)\n"
           "  'credentials' is one of 'admin', 'super', 'op', 'user'\n\n";
}

// The usage line of one command: "add username password ...".
inline std::string command_usage(const std::string& synopsis,
                                 const std::string& program = CORVANE_USERDB_PATH) {
    return "Usage: " + program + " filename " + synopsis + "\n";
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

    // A database with an empty users table.
    void create_table() { ASSERT_EQ(run("create"), quiet_success); }
};

}  // namespace corvane::test
