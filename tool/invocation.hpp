// The invocation record: what the command line named, as references into
// the process's own argument vector. The dispatcher fills it once, before
// anything else reads it; a field whose argument does not exist is null.
#pragma once

namespace corvane::userdb {

struct invocation {
    const char* program_name;
    const char* database_path;
    const char* command_name;
    // -i / --password-stdin: add and pass take the password from standard
    // input instead of the command line.
    bool password_from_stdin;
    // -w / --wait: how long to wait for a lock held elsewhere; 0 fails at once.
    int wait_seconds;
    // -n / --dry-run: a change is rolled back once made.
    bool dry_run;
    // Standard input was closed when the run began: it reads as an error,
    // never as an empty input.
    bool input_closed;
};

extern invocation cli_context;

}  // namespace corvane::userdb
