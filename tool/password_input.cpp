#include "password_input.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "checks.hpp"
#include "messages.hpp"

namespace corvane::userdb {

namespace {

// One byte over the longest password: as much as the length check needs
// to refuse a longer one.
constexpr std::size_t PASSWORD_KEEP = PASSWORD_LIMIT + 1;

struct password_line {
    char bytes[PASSWORD_KEEP + 1];
    std::size_t length;
};

enum class line_read { line, end, error };

int read_errno = 0;  // why the last read failed

// Reads one line into `line`, keeping its first PASSWORD_KEEP bytes; a
// carriage return right before the line feed belongs to the line end. `end`
// when the input ends before its first byte.
line_read read_line(password_line& line) {
    line.length = 0;
    bool any = false;
    std::size_t bytes = 0;
    for (int c = 0; (c = std::getc(stdin)) != EOF; ++bytes) {
        any = true;
        if (c == '\n') {
            // Kept only when nothing was cut; a text cut short is too long anyway.
            if (bytes > 0 && bytes <= PASSWORD_KEEP && line.bytes[bytes - 1] == '\r') --line.length;
            break;
        }
        if (line.length < PASSWORD_KEEP) line.bytes[line.length++] = static_cast<char>(c);
    }
    line.bytes[line.length] = '\0';
    if (std::ferror(stdin) != 0) {
        read_errno = errno;
        return line_read::error;
    }
    return any ? line_read::line : line_read::end;
}

// An empty password is never what -i was given for.
void check_read(line_read read, const password_line& line) {
    if (read == line_read::end || (read == line_read::line && line.length == 0)) {
        fail("No password given.\n");
    }
    if (read == line_read::error) {
        fail("Unable to read the password: %s\n", std::strerror(read_errno));
    }
}

// --- Echo off while the password is typed --------------------------------

termios typed_settings;  // the terminal as it was, restored on every way out
volatile sig_atomic_t echo_is_off = 0;
volatile sig_atomic_t prompt_terminal = -1;  // where the prompts go

// Every signal with a name whose default action ends the process on the
// system built for. Not among them: SIGIO where it is not SIGPOLL (the BSDs
// discard it), SIGINFO (discarded, or SIGPWR's other name), and the signals
// the C library keeps for its threads (FreeBSD's SIGTHR, Linux's two below
// SIGRTMIN).
constexpr int named_ending_signals[] = {
    SIGABRT,   SIGALRM, SIGBUS,  SIGFPE,  SIGHUP,  SIGILL,  SIGINT,  SIGPIPE,   SIGQUIT, SIGSEGV,
    SIGSYS,    SIGTERM, SIGTRAP, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF,
#ifdef SIGPOLL  // SIGIO on Linux
    SIGPOLL,
#endif
#ifdef SIGSTKFLT  // Linux
    SIGSTKFLT,
#endif
#if defined(SIGPWR) && defined(__linux__)  // ignored by default where else it exists
    SIGPWR,
#endif
#ifdef SIGEMT  // the BSDs, macOS, Solaris
    SIGEMT,
#endif
#ifdef SIGLOST  // Solaris, the Hurd
    SIGLOST,
#endif
#ifdef SIGLIBRT  // FreeBSD
    SIGLIBRT,
#endif
};

// More than any system has between SIGRTMIN and SIGRTMAX (FreeBSD: 62).
constexpr std::size_t ENDING_SIGNAL_ROOM = std::size(named_ending_signals) + 64;

// The `index`th signal whose default action ends the process: the named ones,
// then the real-time ones, which on Linux are known only at run time. 0
// past the last.
int ending_signal(std::size_t index) {
    if (index < std::size(named_ending_signals)) return named_ending_signals[index];
#ifdef SIGRTMIN
    const int real_time = SIGRTMIN + static_cast<int>(index - std::size(named_ending_signals));
    if (real_time <= SIGRTMAX) return real_time;
#endif
    return 0;
}

void turn_echo_on() {
    if (echo_is_off != 0) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &typed_settings);
        echo_is_off = 0;
    }
}

void turn_echo_off() {
    termios quiet = typed_settings;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0) echo_is_off = 1;
}

void set_handler(int signal_number, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    // A read of the password goes on after a stop and continue.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
}

// Echo back on and the cursor on a line of its own (for the shell's next
// prompt), then end as the signal would have ended the process.
extern "C" void end_on_signal(int signal_number) {
    turn_echo_on();
    if (prompt_terminal >= 0) {
        const ssize_t wrote = write(prompt_terminal, "\n", 1);
        static_cast<void>(wrote);
    }
    set_handler(signal_number, SIG_DFL);
    raise(signal_number);
}

// Echo back on while stopped (^Z), off again when continued.
extern "C" void stop_on_signal(int /*signal_number*/) {
    const int saved_errno = errno;
    const bool was_off = echo_is_off != 0;
    turn_echo_on();
    set_handler(SIGTSTP, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(SIGTSTP);
    // Continued.
    set_handler(SIGTSTP, stop_on_signal);
    if (was_off) turn_echo_off();
    errno = saved_errno;
}

void say(int terminal, const char* text) {
    const std::size_t length = std::strlen(text);
    for (std::size_t done = 0; done < length;) {
        const ssize_t wrote = write(terminal, text + done, length - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return;
        done += static_cast<std::size_t>(wrote);
    }
}

// Shows `prompt` and reads one line with echo off.
line_read prompt_for(int terminal, const char* prompt, password_line& line) {
    say(terminal, prompt);
    const line_read read = read_line(line);
    say(terminal, "\n");  // the line feed typed was not echoed
    return read;
}

std::string_view read_from_terminal() {
    static password_line entered;
    password_line again{};
    // Prompts go to the terminal itself, so they never mix with output.
    const int tty = open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    const int terminal = tty >= 0 ? tty : STDERR_FILENO;
    // A core file of this run would hold the password.
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);

    prompt_terminal = terminal;
    tcgetattr(STDIN_FILENO, &typed_settings);
    // A signal the caller ignores stays ignored; the others find echo off.
    // All are read before any is set, as a signal may have two names.
    std::array<struct sigaction, ENDING_SIGNAL_ROOM> callers{};
    std::size_t handled = 0;
    for (; handled < callers.size() && ending_signal(handled) != 0; ++handled) {
        sigaction(ending_signal(handled), nullptr, &callers[handled]);
    }
    for (std::size_t i = 0; i < handled; ++i) {
        if (callers[i].sa_handler != SIG_IGN) set_handler(ending_signal(i), end_on_signal);
    }
    // A caller that ignores ^Z has no job control to continue a stopped run.
    struct sigaction callers_stop {};
    sigaction(SIGTSTP, nullptr, &callers_stop);
    if (callers_stop.sa_handler != SIG_IGN) set_handler(SIGTSTP, stop_on_signal);
    turn_echo_off();
    line_read read = prompt_for(terminal, "Password: ", entered);
    if (read == line_read::line && entered.length > 0) {
        const line_read second = prompt_for(terminal, "Retype password: ", again);
        if (second != line_read::line) {
            read = second == line_read::error ? second : line_read::line;
            again.length = PASSWORD_KEEP + 1;  // an ended input cannot match
        }
    }
    turn_echo_on();
    for (std::size_t i = 0; i < handled; ++i) sigaction(ending_signal(i), &callers[i], nullptr);
    sigaction(SIGTSTP, &callers_stop, nullptr);
    prompt_terminal = -1;
    if (tty >= 0) close(tty);

    check_read(read, entered);
    if (again.length != entered.length ||
        std::memcmp(again.bytes, entered.bytes, entered.length) != 0) {
        fail("Passwords do not match.\n");
    }
    return {entered.bytes, entered.length};
}

}  // namespace

std::string_view read_password() {
    if (isatty(STDIN_FILENO) != 0) return read_from_terminal();
    static password_line line;
    check_read(read_line(line), line);
    return {line.bytes, line.length};
}

}  // namespace corvane::userdb
