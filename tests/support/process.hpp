// Runs a program as a real child process and captures what it wrote.
#pragma once

#include <string>
#include <vector>

namespace corvane::test {

struct run_result {
    int status;  // the exit status, or 128 + signal number when killed
    std::string out;
    std::string err;
};

struct run_options {
    // When set, standard output goes to this file (e.g. "/dev/full") and
    // `out` stays empty.
    std::string stdout_path;
    // Replaces argv[0] as the child sees it; the program is still `path`.
    std::string argv0;
};

// Runs `path` with `args`; standard input is /dev/null. When the environment
// variable CORVANE_TEST_WRAPPER is set (e.g. "valgrind --error-exitcode=99
// -q"), the child runs under that command.
run_result run_program(const std::string& path, const std::vector<std::string>& args,
                       const run_options& options = {});

}  // namespace corvane::test
