// Each handler reads as its steps: check its arguments and every field,
// quote the text values, run one statement, report.
#include "commands.hpp"

#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "account_lines.hpp"
#include "checks.hpp"
#include "dispatch.hpp"
#include "invocation.hpp"
#include "messages.hpp"
#include "password_input.hpp"
#include "store.hpp"

namespace corvane::userdb {

namespace {

// The listing writes with putc_unlocked, which inlines to a store into
// stdio's buffer; cmd_list holds the stream's lock for the whole listing.
void put_text(std::string_view text) {
    for (const char byte : text) putc_unlocked(byte, stdout);
}

int write_errno = 0;  // why the listing could not be written

// False, with the reason kept, once standard output cannot be written.
bool written() {
    if (std::ferror(stdout) == 0) return true;
    write_errno = errno;
    return false;
}

// To a pipe or a file: the bytes exactly as stored.
bool print_exact(std::string_view credentials, std::string_view nickname) {
    put_text(credentials);
    putc_unlocked('\t', stdout);
    put_text(nickname);
    putc_unlocked('\n', stdout);
    return written();
}

// To a terminal: nothing the terminal could act on.
bool print_for_terminal(std::string_view credentials, std::string_view nickname) {
    put_for_terminal(credentials, stdout);
    putc_unlocked('\t', stdout);
    put_for_terminal(nickname, stdout);
    putc_unlocked('\n', stdout);
    return written();
}

// The message for the first fault of an import line, or null with the
// canonical class in `credentials`.
const char* line_fault(const account_line& line, const char** credentials) {
    if (line.tabs == 0 || line.tabs > 2) return "expected NICKNAME<TAB>PASSWORD[<TAB>CLASS]\n";
    return account_fault(line.text(0), line.text(1), line.tabs == 2 ? line.text(2) : DEFAULT_CLASS,
                         credentials);
}

// A line the database refused, with its message.
void report_refused_line(unsigned long long line, const char* message) {
    report("line %llu: ERROR: %s\n", line, message);
}

}  // namespace

int cmd_create(unsigned /*count*/, char** /*args*/) { return create_users_table() ? 0 : 1; }

int cmd_list(unsigned /*count*/, char** /*args*/) {
    // Large listings go out in big writes rather than one per line.
    static char output_buffer[1 << 16];
    std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    const account_printer print = isatty(STDOUT_FILENO) != 0 ? print_for_terminal : print_exact;

    flockfile(stdout);
    const bool listed = for_each_account(print);
    funlockfile(stdout);
    if (write_errno != 0) fail("Unable to write standard output: %s\n", std::strerror(write_errno));
    return listed ? 0 : 1;
}

int cmd_add(unsigned count, char** args) {
    // With -i the class is the second argument; a third is refused, so that
    // a script still passing a password is stopped, not half obeyed.
    const bool piped = cli_context.password_from_stdin;
    if (piped ? count < 1 || count > 2 : count < 2) {
        show_command_usage(piped ? ADD_STDIN_SYNOPSIS : ADD_SYNOPSIS);
    }
    // args[count] is the vector's terminating null: no class given.
    const char* class_word = piped ? args[1] : args[2];

    // A bad nickname stops the run before a password is read.
    if (piped) check_nickname(args[0]);
    // Both sources end in a NUL, so the text is also a C string.
    const std::string_view typed_password = piped ? read_password() : args[1];
    const char* credentials =
        check_account(args[0], typed_password, class_word != nullptr ? class_word : DEFAULT_CLASS);

    char* nickname = escape_quotes(args[0]);
    char* password = escape_quotes(typed_password.data());
    const int changed = run_statement(
        "INSERT INTO users (nickname, password, credentials) VALUES('%s', '%s', '%s');", nickname,
        password, credentials);
    std::free(nickname);
    std::free(password);

    if (changed == 1) return 0;
    report("Unable to add user \"%s\"\n", args[0]);
    return 1;
}

int cmd_del(unsigned count, char** args) {
    if (count < 1) show_command_usage(DEL_SYNOPSIS);

    char* nickname = escape_quotes(args[0]);
    const int changed = run_statement("DELETE FROM users WHERE nickname = '%s';", nickname);
    std::free(nickname);

    if (changed == 1) return 0;
    report("Unable to delete user \"%s\".\n", args[0]);
    return 1;
}

int cmd_mod(unsigned count, char** args) {
    if (count < 2) show_command_usage(MOD_SYNOPSIS);
    const char* credentials = check_credentials(args[1]);

    char* nickname = escape_quotes(args[0]);
    const int changed = run_statement("UPDATE users SET credentials = '%s' WHERE nickname = '%s';",
                                      credentials, nickname);
    std::free(nickname);

    if (changed == 1) return 0;
    report("Unable to set credentials for user \"%s\"\n", args[0]);
    return 1;
}

int cmd_pass(unsigned count, char** args) {
    // With -i the nickname is the only argument.
    const bool piped = cli_context.password_from_stdin;
    if (piped ? count != 1 : count < 2) {
        show_command_usage(piped ? PASS_STDIN_SYNOPSIS : PASS_SYNOPSIS);
    }

    const std::string_view typed_password = piped ? read_password() : args[1];
    check_password(typed_password);

    char* nickname = escape_quotes(args[0]);
    char* password = escape_quotes(typed_password.data());
    const int changed = run_statement("UPDATE users SET password = '%s' WHERE nickname = '%s';",
                                      password, nickname);
    std::free(nickname);
    std::free(password);

    if (changed == 1) return 0;
    report("Unable to change password for user \"%s\"\n", args[0]);
    return 1;
}

int cmd_import(unsigned /*count*/, char** /*args*/) {
    if (cli_context.input_closed) {
        fail("Unable to read standard input: %s\n", std::strerror(EBADF));
    }
    // The write lock is taken before any input is read.
    account_import import(report_refused_line);
    if (!import.open()) return 1;

    // Every bad line is reported, so that one run finds every mistake; the
    // good lines are still inserted, to find nicknames given twice. The
    // import stops only when the transaction is gone.
    bool all_good = true;
    account_reader input(STDIN_FILENO);
    account_line line{};
    while (input.next(line)) {
        const char* credentials = nullptr;
        if (const char* fault = line_fault(line, &credentials)) {
            // The lines before this one are reported first.
            if (!import.flush()) break;
            report("line %llu: %s", line.number, fault);
            all_good = false;
            continue;
        }
        if (!import.add(line.number, line.text(0), line.text(1), credentials)) break;
    }
    if (!import.flush()) all_good = false;
    if (input.read_error() != 0) {
        report("Unable to read standard input: %s\n", std::strerror(input.read_error()));
        all_good = false;
    }
    return import.finish(all_good) ? 0 : 1;
}

}  // namespace corvane::userdb
