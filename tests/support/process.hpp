// Runs a program as a real child process and captures what it wrote.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
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
    // When set, the child drops to this user and group (and no supplementary
    // groups) before it runs the program; needs root.
    std::optional<uid_t> uid;
    std::optional<gid_t> gid;
    // When set, standard input reads these bytes (from a file) instead of
    // /dev/null.
    std::optional<std::string> stdin_text;
    // Otherwise, when set, standard input is this file (a directory makes
    // every read fail).
    std::string stdin_path;
    // When set, the child runs in this directory.
    std::string cwd;
};

// A started child. wait() reaps it and returns what it wrote; a child that
// is never waited for is killed and reaped when the object goes.
class child_process {
public:
    child_process(const std::string& path, const std::vector<std::string>& args,
                  const run_options& options);
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    [[nodiscard]] pid_t pid() const { return pid_; }
    // Sends `signal` unless the child has been reaped already.
    void kill(int signal);
    run_result wait();
    // Whether the child has not ended yet.
    [[nodiscard]] bool running() const;
    // The child's peak resident memory so far, in KiB, as Linux's /proc
    // tells it of the program the child runs now (0 once it has ended).
    // Unlike the peak that wait4 reports, it does not count the memory the
    // child shared with this process before it started the program.
    [[nodiscard]] long peak_memory_kib() const;

private:
    struct capture;
    std::unique_ptr<capture> out_;
    std::unique_ptr<capture> err_;
    std::unique_ptr<capture> in_;
    bool capture_out_;
    pid_t pid_ = -1;
    bool reaped_ = false;
};

// Runs `path` with `args` and waits for it; standard input is /dev/null
// unless `options` gives it text.
// When the environment variable CORVANE_TEST_WRAPPER is set (e.g. "valgrind
// --error-exitcode=99 -q"), the child runs under that command.
run_result run_program(const std::string& path, const std::vector<std::string>& args,
                       const run_options& options = {});

}  // namespace corvane::test
