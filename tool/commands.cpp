#include "commands.hpp"

#include <sqlite3.h>
#include <stdio.h>

#include <cstdio>
#include <cstdlib>

#include "checks.hpp"
#include "dispatch.hpp"
#include "store.hpp"

namespace corvane::userdb {

namespace {

// The listing writes with putc_unlocked, which inlines to a store into
// stdio's buffer; cmd_list holds the stream's lock for the whole listing.
void put_text(const char* text) {
    for (; *text != '\0'; ++text) putc_unlocked(*text, stdout);
}

// Prints one account as "CLASS<TAB>NICKNAME". A NULL prints as the empty
// text; a row of another shape than the users table stops the listing.
int print_account_row(void* /*context*/, int columns, char** values, char** /*names*/) {
    if (columns < 3) return 1;
    put_text(values[2] != nullptr ? values[2] : "");
    putc_unlocked('\t', stdout);
    put_text(values[0] != nullptr ? values[0] : "");
    putc_unlocked('\n', stdout);
    return 0;
}

}  // namespace

int cmd_create(unsigned /*count*/, char** /*args*/) {
    // The count of a CREATE TABLE carries no information; a failure has
    // already been reported.
    (void)run_statement(CORVANE_SCHEMA_STATEMENT);
    return 0;
}

int cmd_list(unsigned /*count*/, char** /*args*/) {
    // Large listings go out in big writes rather than one per line.
    static char output_buffer[1 << 16];
    std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);

    open_account_db();
    char* error = nullptr;
    flockfile(stdout);
    const int result =
        sqlite3_exec(account_db, "SELECT * FROM users;", print_account_row, nullptr, &error);
    funlockfile(stdout);
    if (result != SQLITE_OK) {
        sqlite3_free(error);
        std::exit(EXIT_FAILURE);
    }
    sqlite3_close(account_db);
    account_db = nullptr;
    return 0;
}

int cmd_add(unsigned count, char** args) {
    if (count < 2) show_command_usage(ADD_SYNOPSIS);
    check_nickname(args[0]);
    char* nickname = escape_quotes(args[0]);
    check_password(args[1]);
    char* password = escape_quotes(args[1]);
    // args[2] is the vector's terminating null when no class was given.
    const char* credentials = check_credentials(args[2] != nullptr ? args[2] : "user");

    const int changed = run_statement(
        "INSERT INTO users (nickname, password, credentials) VALUES('%s', '%s', '%s');", nickname,
        password, credentials);
    std::free(nickname);
    std::free(password);
    if (changed == 1) return 0;
    std::fprintf(stderr, "Unable to add user \"%s\"\n", args[0]);
    return 1;
}

int cmd_del(unsigned count, char** args) {
    if (count < 1) show_command_usage(DEL_SYNOPSIS);
    char* nickname = escape_quotes(args[0]);

    const int changed = run_statement("DELETE FROM users WHERE nickname = '%s';", nickname);
    std::free(nickname);
    if (changed == 1) return 0;
    std::fprintf(stderr, "Unable to delete user \"%s\".\n", args[0]);
    return 1;
}

int cmd_mod(unsigned count, char** args) {
    if (count < 2) show_command_usage(MOD_SYNOPSIS);
    char* nickname = escape_quotes(args[0]);
    const char* credentials = check_credentials(args[1]);

    const int changed = run_statement("UPDATE users SET credentials = '%s' WHERE nickname = '%s';",
                                      credentials, nickname);
    std::free(nickname);
    if (changed == 1) return 0;
    std::fprintf(stderr, "Unable to set credentials for user \"%s\"\n", args[0]);
    return 1;
}

int cmd_pass(unsigned count, char** args) {
    if (count < 2) show_command_usage(PASS_SYNOPSIS);
    char* nickname = escape_quotes(args[0]);
    check_password(args[1]);
    char* password = escape_quotes(args[1]);

    const int changed = run_statement("UPDATE users SET password = '%s' WHERE nickname = '%s';",
                                      password, nickname);
    std::free(nickname);
    std::free(password);
    if (changed == 1) return 0;
    std::fprintf(stderr, "Unable to change password for user \"%s\"\n", args[0]);
    return 1;
}

}  // namespace corvane::userdb
