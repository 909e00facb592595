#include "support/terminal.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>

namespace corvane::test {

terminal_child::terminal_child(const std::string& path, const std::vector<std::string>& args) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::system_error(errno, std::generic_category(), "posix_openpt");
    }
    const std::string slave = ptsname(master_);
    termios settings{};
    tcgetattr(master_, &settings);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tcsetattr(master_, TCSANOW, &settings);

    std::vector<std::string> words{path};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ < 0) throw std::system_error(errno, std::generic_category(), "fork");
    if (pid_ == 0) {
        // A new session whose first terminal opened becomes its controlling one.
        setsid();
        const int fd = open(slave.c_str(), O_RDWR);
        if (fd < 0 || dup2(fd, 0) < 0 || dup2(fd, 1) < 0 || dup2(fd, 2) < 0) _exit(126);
        close(master_);
        execv(argv[0], argv.data());
        _exit(127);
    }
}

terminal_child::~terminal_child() {
    if (!reaped_) {
        ::kill(pid_, SIGKILL);
        int ignored = 0;
        while (waitpid(pid_, &ignored, 0) < 0 && errno == EINTR) {
        }
    }
    close(master_);
}

bool terminal_child::read_some(int timeout_ms) {
    pollfd ready{master_, POLLIN, 0};
    if (poll(&ready, 1, timeout_ms) <= 0) return false;
    char buffer[4096];
    // Linux reports the end of a terminal whose last user left as EIO.
    const ssize_t got = read(master_, buffer, sizeof buffer);
    if (got <= 0) return false;
    output_.append(buffer, static_cast<std::size_t>(got));
    return true;
}

bool terminal_child::wait_for(const std::string& text) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!output_.ends_with(text)) {
        if (std::chrono::steady_clock::now() > until) return false;
        read_some(100);
    }
    return true;
}

void terminal_child::type(const std::string& text) {
    if (write(master_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        throw std::system_error(errno, std::generic_category(), "write to terminal");
    }
}

bool terminal_child::echo_on() const {
    termios settings{};
    tcgetattr(master_, &settings);
    return (settings.c_lflag & ECHO) != 0;
}

void terminal_child::kill(int signal) {
    if (!reaped_) ::kill(pid_, signal);
}

int terminal_child::wait() {
    int status = 0;
    // Reading on while the child runs keeps it from blocking on a full terminal.
    for (;;) {
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) break;
        if (done < 0 && errno != EINTR) throw std::system_error(errno, std::generic_category());
        read_some(50);
    }
    reaped_ = true;
    while (read_some(0)) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace corvane::test
