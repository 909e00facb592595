// The entry of the tool: the options, the command rows and the usage
// outputs. Dispatch does the steps every command shares, as its row says,
// so that a handler does only its own.
#pragma once

#include "connection.hpp"

namespace corvane::userdb {

// What a handler is handed once dispatch has checked the argument count
// and refused a closed standard input to a command that reads it.
struct command_call {
    // The arguments after the command word, the password left out, so that
    // the others stand at the same places with -i and without;
    // args[count] is null.
    char** args;
    unsigned count;
    // A command that takes a password: the one typed, or null with -i (it
    // is then read from standard input; see read_password).
    const char* password;
    database db;
};

// A handler returns the exit status, 0 or 1, or ends the process itself
// with status 1.
using command_handler = int (*)(const command_call& call);

// One row of the command table.
struct command_entry {
    const char* name;
    command_handler handler;
    // The arguments, as the per-command usage line and the usage text show
    // them; and with -i, where null means the command takes no password
    // (then -i changes nothing for it). A password is the second argument.
    const char* synopsis;
    const char* stdin_synopsis = nullptr;
    // What the command does, for --help.
    const char* summary = nullptr;
    // The least number of arguments, the password counted; with -i, the
    // most (the password not counted). More are ignored without -i.
    unsigned least = 0;
    unsigned stdin_most = 0;
    // Reads standard input: refused at once when it was closed.
    bool reads_input = false;
    // The usage text lists the command: only those it always listed, since
    // scripts compare that text byte for byte.
    bool in_usage = true;
};

}  // namespace corvane::userdb
