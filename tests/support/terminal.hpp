// Runs a program on a real pseudo-terminal, as a person at a terminal would:
// the terminal is the child's controlling terminal and its standard input,
// output and error. Output is passed through unchanged (no CR added before
// LF), so what the program wrote can be compared byte for byte.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace corvane::test {

class terminal_child {
public:
    terminal_child(const std::string& path, const std::vector<std::string>& args);
    ~terminal_child();
    terminal_child(const terminal_child&) = delete;
    terminal_child& operator=(const terminal_child&) = delete;

    // Reads until what the child has written ends with `text`, or 10 s pass.
    // True when it did.
    bool wait_for(const std::string& text);
    // Types `text` on the terminal's keyboard.
    void type(const std::string& text);
    // Whether the terminal echoes what is typed.
    [[nodiscard]] bool echo_on() const;
    void kill(int signal);
    [[nodiscard]] pid_t pid() const { return pid_; }
    // Waits for the child's end and returns its status (128 + signal number
    // when killed); everything it wrote is then in output().
    int wait();
    [[nodiscard]] const std::string& output() const { return output_; }

private:
    // Reads what arrives within `timeout_ms`; false when nothing did.
    bool read_some(int timeout_ms);

    int master_ = -1;
    pid_t pid_ = -1;
    bool reaped_ = false;
    std::string output_;
};

}  // namespace corvane::test
