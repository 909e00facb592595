// The command handlers. Each takes the arguments after the command word and
// returns the exit status, or ends the process with status 1.
#pragma once

namespace corvane::userdb {

// Argument synopses shown by the per-command usage line.
inline constexpr const char* ADD_SYNOPSIS = "username password [credentials = user]";
inline constexpr const char* DEL_SYNOPSIS = "username";
inline constexpr const char* MOD_SYNOPSIS = "username credentials";
inline constexpr const char* PASS_SYNOPSIS = "username password";
// With -i the password is read from standard input instead.
inline constexpr const char* ADD_STDIN_SYNOPSIS = "username [credentials = user]";
inline constexpr const char* PASS_STDIN_SYNOPSIS = "username";

int cmd_create(unsigned count, char** args);
int cmd_list(unsigned count, char** args);
int cmd_add(unsigned count, char** args);
int cmd_del(unsigned count, char** args);
int cmd_mod(unsigned count, char** args);
int cmd_pass(unsigned count, char** args);
int cmd_import(unsigned count, char** args);

}  // namespace corvane::userdb
