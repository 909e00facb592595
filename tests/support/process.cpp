#include "support/process.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace corvane::test {

namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> split_words(const char* text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// A temporary file that is removed with the object.
struct capture_file {
    std::string path;
    capture_file() {
        const char* dir = std::getenv("TMPDIR");
        path = std::string(dir != nullptr ? dir : "/tmp") + "/corvane-capture-XXXXXX";
        const int fd = mkstemp(path.data());
        if (fd < 0) throw std::system_error(errno, std::generic_category(), "mkstemp");
        close(fd);
    }
    ~capture_file() { unlink(path.c_str()); }
    capture_file(const capture_file&) = delete;
    capture_file& operator=(const capture_file&) = delete;
};

}  // namespace

run_result run_program(const std::string& path, const std::vector<std::string>& args,
                       const run_options& options) {
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

    capture_file out;
    capture_file err;
    const std::string& out_path = options.stdout_path.empty() ? out.path : options.stdout_path;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err.path.c_str(), O_WRONLY | O_TRUNC, 0);

    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, words.front().c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::system_error(spawned, std::generic_category(), "posix_spawn");

    int wait_status = 0;
    while (waitpid(child, &wait_status, 0) < 0) {
        if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "waitpid");
    }
    run_result result{};
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    if (options.stdout_path.empty()) result.out = read_file(out.path);
    result.err = read_file(err.path);
    return result;
}

}  // namespace corvane::test
