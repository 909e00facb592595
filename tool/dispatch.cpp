// corvane-userdb: one run, one command against one SQLite account database.

#include "dispatch.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "checks.hpp"
#include "commands.hpp"

namespace corvane::userdb {

invocation cli_context{};

namespace {

constexpr std::array<command_entry, 6> command_table{{
    {cmd_create, "create", ""},
    {cmd_list, "list", ""},
    {cmd_add, "add", ADD_SYNOPSIS},
    {cmd_del, "del", DEL_SYNOPSIS},
    {cmd_mod, "mod", MOD_SYNOPSIS},
    {cmd_pass, "pass", PASS_SYNOPSIS},
}};

constexpr char usage_format[] =
    "Usage: %s filename command [...]\n"
    "\n"
    "Command syntax:\n"
    "  create\n"
    "  add  username password [credentials = user]\n"
    "  del  username\n"
    "  mod  username credentials\n"
    "  pass username password\n"
    "  list\n"
    "\n"
    "Parameters:\n"
    "  'filename' is a database file\n"
    "  'username' is a nickname (UTF-8, up to %i bytes)\n"
    "  'password' is a password (UTF-8, up to %i bytes)\n"
    "  'credentials' is one of 'admin', 'super', 'op', 'user'\n"
    "\n";
static_assert(sizeof usage_format - 1 == 386);

const command_entry* find_command(const char* word) {
    for (const command_entry& entry : command_table) {
        if (std::strcmp(word, entry.name) == 0) return &entry;
    }
    return nullptr;
}

int dispatch(int argc, char** argv) {
    // argc may be 0 when the tool is started with an empty vector.
    cli_context.program_name = argc > 0 && argv[0] != nullptr ? argv[0] : "corvane-userdb";
    cli_context.database_path = argc > 1 ? argv[1] : nullptr;
    cli_context.command_name = argc > 2 ? argv[2] : nullptr;

    if (argc < 3) {
        show_usage(cli_context.program_name);
        return 1;
    }
    const command_entry* command = find_command(cli_context.command_name);
    if (command == nullptr) {
        show_usage(cli_context.program_name);
        return 1;
    }
    return command->handler(static_cast<unsigned>(argc - 3), argv + 3);
}

}  // namespace

void show_usage(const char* program_name) {
    std::printf(usage_format, program_name, static_cast<int>(NICKNAME_LIMIT),
                static_cast<int>(PASSWORD_LIMIT));
}

void show_command_usage(const char* synopsis) {
    std::fprintf(stderr, "Usage: %s filename %s %s\n", cli_context.program_name,
                 cli_context.command_name, synopsis);
    std::exit(EXIT_FAILURE);
}

}  // namespace corvane::userdb

int main(int argc, char** argv) {
    const int status = corvane::userdb::dispatch(argc, argv);
    // A listing or usage text lost on a full disk or a closed stream is a
    // failure, not a success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) return EXIT_FAILURE;
    return status;
}
