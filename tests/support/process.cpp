#include "support/process.hpp"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "support/temp_dir.hpp"

extern char** environ;

namespace corvane::test {

namespace {

std::vector<std::string> split_words(const char* text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// In a forked child: redirect, change directory, drop privileges, run. Only
// calls that are safe between fork and exec.
[[noreturn]] void exec_as(const char* in_path, const char* out_path, const char* err_path,
                          const char* cwd, const run_options& options, char** argv) {
    const int in = open(in_path, O_RDONLY);
    const int out = open(out_path, O_WRONLY | O_TRUNC);
    const int err = open(err_path, O_WRONLY | O_TRUNC);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
        _exit(126);
    if (cwd[0] != '\0' && chdir(cwd) != 0) _exit(126);
    if (options.uid.has_value()) {
        const gid_t gid = options.gid.value_or(static_cast<gid_t>(*options.uid));
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(*options.uid) != 0) _exit(126);
    }
    execvp(argv[0], argv);
    _exit(127);
}

}  // namespace

// A temporary file that is removed with the object.
struct child_process::capture {
    std::string path;
    capture() {
        const char* dir = std::getenv("TMPDIR");
        path = std::string(dir != nullptr ? dir : "/tmp") + "/corvane-capture-XXXXXX";
        const int fd = mkstemp(path.data());
        if (fd < 0) throw std::system_error(errno, std::generic_category(), "mkstemp");
        close(fd);
    }
    ~capture() { unlink(path.c_str()); }
    capture(const capture&) = delete;
    capture& operator=(const capture&) = delete;
};

child_process::child_process(const std::string& path, const std::vector<std::string>& args,
                             const run_options& options)
    : out_(std::make_unique<capture>()),
      err_(std::make_unique<capture>()),
      capture_out_(options.stdout_path.empty()) {
    std::vector<std::string> words;
    if (const char* wrapper = std::getenv("CORVANE_TEST_WRAPPER"); wrapper != nullptr) {
        words = split_words(wrapper);
    }
    const bool wrapped = !words.empty();
    words.push_back(path);
    words.insert(words.end(), args.begin(), args.end());

    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    // Only an unwrapped child can be shown another argv[0].
    std::string argv0 = options.argv0;
    if (!argv0.empty() && !wrapped) argv[0] = argv0.data();
    const std::string& out_path = capture_out_ ? out_->path : options.stdout_path;
    std::string in_path = options.stdin_path.empty() ? "/dev/null" : options.stdin_path;
    if (options.stdin_text.has_value()) {
        in_ = std::make_unique<capture>();
        write_file(in_->path, *options.stdin_text);
        in_path = in_->path;
    }

    if (options.uid.has_value() || !options.cwd.empty()) {
        const pid_t child = fork();
        if (child < 0) throw std::system_error(errno, std::generic_category(), "fork");
        if (child == 0) {
            exec_as(in_path.c_str(), out_path.c_str(), err_->path.c_str(), options.cwd.c_str(),
                    options, argv.data());
        }
        pid_ = child;
        return;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err_->path.c_str(), O_WRONLY | O_TRUNC, 0);
    pid_t child = 0;
    // The search path finds a wrapper given by name ("valgrind ...").
    const int spawned =
        posix_spawnp(&child, words.front().c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::system_error(spawned, std::generic_category(), "posix_spawn");
    pid_ = child;
}

child_process::~child_process() {
    if (reaped_) return;
    ::kill(pid_, SIGKILL);
    int ignored = 0;
    while (waitpid(pid_, &ignored, 0) < 0 && errno == EINTR) {
    }
}

void child_process::kill(int signal) {
    // An exited child stays a zombie until reaped, so its pid is not reused.
    if (!reaped_) ::kill(pid_, signal);
}

run_result child_process::wait() {
    if (reaped_) throw std::logic_error("child_process::wait called twice");
    int wait_status = 0;
    while (waitpid(pid_, &wait_status, 0) < 0) {
        if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
    }
    reaped_ = true;
    run_result result{};
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    if (capture_out_) result.out = read_file(out_->path);
    result.err = read_file(err_->path);
    return result;
}

bool child_process::running() const {
    if (reaped_) return false;
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

long child_process::peak_memory_kib() const {
    std::istringstream status(read_file("/proc/" + std::to_string(pid_) + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
    }
    return 0;
}

run_result run_program(const std::string& path, const std::vector<std::string>& args,
                       const run_options& options) {
    return child_process(path, args, options).wait();
}

}  // namespace corvane::test
