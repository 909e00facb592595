// Each handler reads as its steps: check every field, quote the text
// values, run one statement, report. Dispatch has checked the argument
// count and done the other steps the row asks for.
#include "commands.hpp"

#include <stdio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "account_check.hpp"
#include "account_import.hpp"
#include "account_lines.hpp"
#include "checks.hpp"
#include "messages.hpp"
#include "password_input.hpp"
#include "store.hpp"

namespace corvane::userdb {

namespace {

// The listing writes with putc_unlocked, which inlines to a store into
// stdio's buffer; cmd_list holds the stream's lock for the whole listing.
void put_exact(std::string_view text, std::FILE* stream) {
    for (const char byte : text) putc_unlocked(byte, stream);
}

// One account's line: to a pipe or a file the bytes exactly as stored
// (put_exact), to a terminal nothing it could act on (put_for_terminal).
// False once standard output has failed, which stops the listing; main
// reports it.
template <void (*put)(std::string_view, std::FILE*)>
bool print_account(std::string_view credentials, std::string_view nickname) {
    put(credentials, stdout);
    putc_unlocked('\t', stdout);
    put(nickname, stdout);
    putc_unlocked('\n', stdout);
    return std::ferror(stdout) == 0;
}

// An import or update line judged: its shape, then its account. An update
// takes the nickname as typed, as pass and mod do, up to the length a
// nickname may have (the reader keeps no more); its class, when there is
// one, is judged, and none keeps the account's own.
account_verdict judge_line(const account_line& line, account_import::kind what) {
    if (line.tabs == 0 || line.tabs > 2) return {"expected NICKNAME<TAB>PASSWORD[<TAB>CLASS]\n"};
    const std::optional<std::string_view> class_word =
        line.tabs == 2 ? line.text(2) : std::optional<std::string_view>(DEFAULT_CLASS);
    if (what == account_import::kind::add) {
        return judge_account({line.text(0), line.text(1), class_word});
    }
    if (line.text(0).size() > NICKNAME_LIMIT) return judge_account({.nickname = line.text(0)});
    return judge_account(
        {.password = line.text(1), .class_word = line.tabs == 2 ? class_word : std::nullopt});
}

// The password of add and pass: the one typed, or with -i the line read
// from standard input. Both end in a NUL, so the text is also a C string.
std::string_view password_of(const command_call& call) {
    return call.password != nullptr ? call.password : read_password();
}

// A line the database refused, with its message; without one, an update's
// line that changed no account (or more than one).
void report_refused_line(unsigned long long line, std::string_view nickname, const char* message) {
    if (message != nullptr) {
        report("line %llu: ERROR: %s\n", line, message);
    } else {
        report("line %llu: Unable to change password for user \"%.*s\"\n", line,
               static_cast<int>(nickname.size()), nickname.data());
    }
}

// import and update: the lines of standard input, judged one at a time and
// sent in one session, all or nothing.
int run_lines(const command_call& call, account_import::kind what) {
    // The write lock is taken before any input is read.
    account_import session(call.db, report_refused_line, what);
    if (!session.open()) return 1;

    // Every bad line is reported, so that one run finds every mistake; the
    // good lines are still sent, to find the database's refusals too. The
    // session stops only when it cannot go on (see account_import).
    bool all_good = true;
    account_reader input(STDIN_FILENO);
    account_line line{};
    while (input.next(line)) {
        const account_verdict verdict = judge_line(line, what);
        if (verdict.fault != nullptr) {
            // The lines before this one are reported first.
            if (!session.flush()) break;
            report("line %llu: %s", line.number, verdict.fault);
            all_good = false;
            continue;
        }
        if (!session.add(line.number, line.text(0), line.text(1), verdict.credentials)) break;
    }
    if (!session.flush()) all_good = false;
    if (input.read_error() != 0) {
        report("Unable to read standard input: %s\n", std::strerror(input.read_error()));
        all_good = false;
    }
    return session.finish(all_good) ? 0 : 1;
}

int cmd_create(const command_call& call) { return create_users_table(call.db) ? 0 : 1; }

int cmd_list(const command_call& call) {
    const account_printer print =
        isatty(STDOUT_FILENO) != 0 ? print_account<put_for_terminal> : print_account<put_exact>;
    // -n is for the commands that change the file: list opens it as ever.
    database db = call.db;
    db.dry_run = false;
    flockfile(stdout);
    const bool listed = for_each_account(db, print);
    funlockfile(stdout);
    return listed ? 0 : 1;
}

int cmd_add(const command_call& call) {
    // A bad nickname stops the run before a password is read.
    check_nickname(call.args[0]);
    const std::string_view typed_password = password_of(call);
    const char* credentials = check_account(
        {.password = typed_password, .class_word = call.count > 1 ? call.args[1] : DEFAULT_CLASS});

    char* nickname = escape_quotes(call.args[0]);
    char* password = escape_quotes(typed_password.data());
    const int changed = run_statement(
        call.db, "INSERT INTO users (nickname, password, credentials) VALUES('%s', '%s', '%s');",
        nickname, password, credentials);
    std::free(nickname);
    std::free(password);

    if (changed == 1) return 0;
    report("Unable to add user \"%s\"\n", call.args[0]);
    return 1;
}

int cmd_del(const command_call& call) {
    char* nickname = escape_quotes(call.args[0]);
    const int changed =
        run_statement(call.db, "DELETE FROM users WHERE nickname = '%s';", nickname);
    std::free(nickname);

    if (changed == 1) return 0;
    report("Unable to delete user \"%s\".\n", call.args[0]);
    return 1;
}

int cmd_mod(const command_call& call) {
    const char* credentials = check_credentials(call.args[1]);

    char* nickname = escape_quotes(call.args[0]);
    const int changed =
        run_statement(call.db, "UPDATE users SET credentials = '%s' WHERE nickname = '%s';",
                      credentials, nickname);
    std::free(nickname);

    if (changed == 1) return 0;
    report("Unable to set credentials for user \"%s\"\n", call.args[0]);
    return 1;
}

int cmd_pass(const command_call& call) {
    const std::string_view typed_password = password_of(call);
    check_password(typed_password);

    char* nickname = escape_quotes(call.args[0]);
    char* password = escape_quotes(typed_password.data());
    const int changed = run_statement(
        call.db, "UPDATE users SET password = '%s' WHERE nickname = '%s';", password, nickname);
    std::free(nickname);
    std::free(password);

    if (changed == 1) return 0;
    report("Unable to change password for user \"%s\"\n", call.args[0]);
    return 1;
}

int cmd_import(const command_call& call) { return run_lines(call, account_import::kind::add); }

int cmd_rename(const command_call& call) {
    // The new nickname becomes an account's: add's rules. The old one is
    // looked up as typed.
    check_nickname(call.args[1]);

    char* old_name = escape_quotes(call.args[0]);
    char* new_name = escape_quotes(call.args[1]);
    const int changed = run_statement(
        call.db, "UPDATE users SET nickname = '%s' WHERE nickname = '%s';", new_name, old_name);
    std::free(old_name);
    std::free(new_name);

    if (changed == 1) return 0;
    report("Unable to rename user \"%s\"\n", call.args[0]);
    return 1;
}

int cmd_update(const command_call& call) { return run_lines(call, account_import::kind::change); }

int cmd_check(const command_call& call) { return check_account_file(call.db); }

// name, handler, synopsis, -i synopsis, --help's summary, least arguments,
// most with -i, reads standard input, listed by the usage text (see
// command_entry)
// clang-format off
constexpr command_entry rows[] = {
    {"create", cmd_create, "", nullptr, "create the users table"},
    {"add", cmd_add, "username password [credentials = user]", "username [credentials = user]",
     "add an account", 2, 2},
    {"del", cmd_del, "username", nullptr, "delete an account", 1},
    {"mod", cmd_mod, "username credentials", nullptr, "give an account another class", 2},
    {"pass", cmd_pass, "username password", "username", "give an account another password", 2, 1},
    {"list", cmd_list, "", nullptr, "print each account: its class, a tab, its nickname"},
    {"import", cmd_import, "", nullptr,
     "add the accounts read from standard input, all or none, one a line:\n"
     "      NICKNAME<TAB>PASSWORD[<TAB>CLASS]", 0, 0, true, false},
    {"rename", cmd_rename, "oldname newname", nullptr, "give an account another nickname", 2, 0,
     false, false},
    {"update", cmd_update, "", nullptr,
     "give the accounts read from standard input, in import's format, their\n"
     "      password and (when given) class, all or none", 0, 0, true, false},
    {"check", cmd_check, "", nullptr,
     "print each problem of the file and its accounts; change nothing", 0, 0, false, false},
};
// clang-format on
// Dispatch takes the password out of the arguments as the second one.
static_assert([] {
    for (const command_entry& row : rows) {
        if (row.stdin_synopsis != nullptr && row.least < 2) return false;
    }
    return true;
}());

}  // namespace

constexpr std::span<const command_entry> command_table{rows};

}  // namespace corvane::userdb
