// Points standard error (fd 2) at a file for the lifetime of the object;
// text() puts it back and returns what was written.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>

#include "support/temp_dir.hpp"

namespace corvane::test {

class stderr_capture {
public:
    explicit stderr_capture(std::string file) : file_(std::move(file)) {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        const int fd = open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    ~stderr_capture() { restore(); }
    stderr_capture(const stderr_capture&) = delete;
    stderr_capture& operator=(const stderr_capture&) = delete;

    std::string text() {
        restore();
        return read_file(file_);
    }

private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
    }
    std::string file_;
    int saved_ = -1;
};

}  // namespace corvane::test
