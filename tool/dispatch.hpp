// The entry of the tool: the options, the command table and the usage
// outputs.
#pragma once

namespace corvane::userdb {

// A command handler takes the arguments after the command word (args[count]
// is the vector's terminating null) and returns the exit status, 0 or 1, or
// ends the process itself with status 1.
using command_handler = int (*)(unsigned count, char** args);

struct command_entry {
    command_handler handler;
    const char* name;
    const char* synopsis;
};

// Writes the general usage text to standard output.
void show_usage(const char* program_name);

// Writes "Usage: PROGRAM filename COMMAND SYNOPSIS" to standard error and ends
// the process with status 1.
[[noreturn]] void show_command_usage(const char* synopsis);

}  // namespace corvane::userdb
