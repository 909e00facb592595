// corvane-userdb: one run, one command against one SQLite account database.
//
//   corvane-userdb [OPTIONS] FILE COMMAND [ARGUMENTS...]

#include "dispatch.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "checks.hpp"
#include "commands.hpp"
#include "invocation.hpp"
#include "messages.hpp"

#include <corvane/convert.hpp>

namespace corvane::userdb {

invocation cli_context{};

namespace {

constexpr char usage_parameters[] =
    "\n"
    "Parameters:\n"
    "  'filename' is a database file\n"
    "  'username' is a nickname (UTF-8, up to %i bytes)\n"
    "  'password' is a password (UTF-8, up to %i bytes)\n"
    "  'credentials' is one of 'admin', 'super', 'op', 'user'\n"
    "\n";

// Writes the usage text to standard output, its command list from the
// rows. Scripts compare it byte for byte.
void show_usage(const char* program_name) {
    print("Usage: %s filename command [...]\n\nCommand syntax:\n", program_name);
    for (const command_entry& command : command_table) {
        if (!command.in_usage) continue;
        print("  %-*s%s\n", *command.synopsis != '\0' ? 5 : 0, command.name, command.synopsis);
    }
    print(usage_parameters, static_cast<int>(NICKNAME_LIMIT), static_cast<int>(PASSWORD_LIMIT));
}

// What --help writes after the commands.
constexpr char help_options[] =
    "\n"
    "Options, before FILE:\n"
    "  -i, --password-stdin  add and pass read the password from standard input\n"
    "  -n, --dry-run         run a command that changes FILE, then roll the change\n"
    "                        back; a FILE that does not exist is not created\n"
    "  -w, --wait SECONDS    wait up to SECONDS (0 to 86400) for a locked database\n"
    "  -h, --help            show this help\n"
    "  --version             show the version\n"
    "  --                    end of the options\n"
    "\n"
    "Nicknames (up to %i bytes) and passwords (up to %i bytes) are UTF-8.\n"
    "Classes: admin, super, op, user (the default), bot, ubot, opbot, opubot\n"
    "\n"
    "Exit status: 0 on success; 1 on any failure, and when check finds a problem.\n";

// Writes the help text to standard output: every command from the rows,
// every option, the classes and the exit status.
void show_help(const char* program_name) {
    print("Usage: %s [OPTIONS] FILE COMMAND [ARGUMENTS...]\n\nCommands:\n", program_name);
    for (const command_entry& command : command_table) {
        print("  %s%s%s\n      %s\n", command.name, *command.synopsis != '\0' ? " " : "",
              command.synopsis, command.summary);
        if (command.stdin_synopsis != nullptr) {
            print("      with -i: %s %s\n", command.name, command.stdin_synopsis);
        }
    }
    print(help_options, static_cast<int>(NICKNAME_LIMIT), static_cast<int>(PASSWORD_LIMIT));
}

constexpr int WAIT_LIMIT = 86400;  // a day

// The seconds of -w: a whole number from 0 to WAIT_LIMIT in decimal digits,
// or -1.
int parse_wait(const char* text) {
    if (text == nullptr || *text == '\0') return -1;
    for (const char* at = text; *at != '\0'; ++at) {
        if (!char_is_digit(static_cast<unsigned char>(*at))) return -1;
    }
    while (text[0] == '0' && text[1] != '\0') ++text;
    std::int32_t seconds = 0;
    // Five digits cannot wrap.
    if (std::strlen(text) > 5 || !parse_decimal(text, &seconds) || seconds > WAIT_LIMIT) return -1;
    return seconds;
}

// Writes "Usage: PROGRAM filename COMMAND SYNOPSIS" to standard error and ends
// the process with status 1.
[[noreturn]] void show_command_usage(const command_entry& command, bool piped) {
    fail("Usage: %s filename %s %s\n", cli_context.program_name, cli_context.command_name,
         piped ? command.stdin_synopsis : command.synopsis);
}

// Does the steps the row asks for, then calls the handler with `count`
// arguments from `args` on.
int run_command(const command_entry& command, char** args, unsigned count) {
    // -i counts only for a command that takes a password.
    const bool piped = cli_context.password_from_stdin && command.stdin_synopsis != nullptr;
    if (count + (piped ? 1 : 0) < command.least || (piped && count > command.stdin_most)) {
        show_command_usage(command, piped);
    }
    if (command.reads_input && cli_context.input_closed) {
        fail("Unable to read standard input: %s\n", std::strerror(EBADF));
    }
    command_call call{args,
                      count,
                      nullptr,
                      {cli_context.database_path, cli_context.wait_seconds, cli_context.dry_run}};
    if (command.stdin_synopsis != nullptr && !piped) {
        // The password is the second argument; the others, and the
        // terminating null, move up over it.
        call.password = args[1];
        std::memmove(args + 1, args + 2, (count - 1) * sizeof *args);
        --call.count;
    }
    return command.handler(call);
}

// What the options before the database name ask for.
enum class option_outcome { go_on, done, unknown };

// Reads the options from argv[*next] on into cli_context and leaves *next
// at the database name.
option_outcome read_options(int argc, char** argv, int* next) {
    for (; *next < argc && argv[*next][0] == '-'; ++*next) {
        const std::string_view option = argv[*next];
        if (option == "--") {
            ++*next;
            break;
        }
        if (option == "-i" || option == "--password-stdin") {
            cli_context.password_from_stdin = true;
        } else if (option == "-w" || option == "--wait" || option.starts_with("--wait=")) {
            const bool joined = option.starts_with("--wait=");
            const char* value = joined ? argv[*next] + 7 : argv[*next + 1];
            if (!joined) ++*next;
            cli_context.wait_seconds = parse_wait(value);
            if (cli_context.wait_seconds < 0) return option_outcome::unknown;
        } else if (option == "-n" || option == "--dry-run") {
            cli_context.dry_run = true;
        } else if ((option == "--help" || option == "-h") && *next == 1) {
            show_help(cli_context.program_name);
            return option_outcome::done;
        } else if (option == "--version") {
            std::fputs("corvane-userdb " CORVANE_VERSION "\n", stdout);
            return option_outcome::done;
        } else {
            return option_outcome::unknown;
        }
    }
    return option_outcome::go_on;
}

int dispatch(int argc, char** argv) {
    // argc may be 0 when the tool is started with an empty vector.
    cli_context.program_name = argc > 0 && argv[0] != nullptr ? argv[0] : "corvane-userdb";
    int next = 1;
    const option_outcome options = read_options(argc, argv, &next);
    if (options == option_outcome::done) return 0;
    cli_context.database_path = next < argc ? argv[next] : nullptr;
    cli_context.command_name = next + 1 < argc ? argv[next + 1] : nullptr;

    const command_entry* command = nullptr;
    for (const command_entry& entry : command_table) {
        if (next + 1 < argc && std::strcmp(argv[next + 1], entry.name) == 0) command = &entry;
    }
    if (options == option_outcome::unknown || command == nullptr) {
        show_usage(cli_context.program_name);
        return 1;
    }
    return run_command(*command, argv + next + 2, static_cast<unsigned>(argc - next - 2));
}

}  // namespace

}  // namespace corvane::userdb

namespace {

// A standard descriptor that was closed gets /dev/null opened the other way
// round: reading what should have been written, or writing what should have
// been read, then fails with EBADF as it would have, and no file opened
// later (the database, its journal, the terminal) can take its number.
// Returns whether standard input was closed.
bool occupy_closed_standard_descriptors() {
    constexpr std::array<int, 3> direction{O_WRONLY, O_RDONLY, O_RDONLY};
    bool input_closed = false;
    for (int descriptor = 0; descriptor < 3; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
        if (descriptor == STDIN_FILENO) input_closed = true;
        const int opened = open("/dev/null", direction[static_cast<std::size_t>(descriptor)]);
        // The lowest free number is this one.
        if (opened != descriptor) {
            corvane::userdb::fail("Unable to open /dev/null: %s\n", std::strerror(errno));
        }
    }
    return input_closed;
}

}  // namespace

int main(int argc, char** argv) {
    using corvane::userdb::cli_context;
    cli_context.input_closed = occupy_closed_standard_descriptors();
    // Every file this run creates holds passwords: the database and its
    // journals are owner-only. SQLite gives the journals of an existing
    // database that database's own mode, so existing files keep theirs.
    umask(S_IRWXG | S_IRWXO);
    // Large listings go out in big writes rather than one per line.
    static char output_buffer[1 << 16];
    std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    const int status = corvane::userdb::dispatch(argc, argv);
    // The one place that judges standard output: a listing or usage text
    // lost on a full disk or a closed stream is a failure, not a success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        corvane::userdb::fail("Unable to write standard output: %s\n", std::strerror(errno));
    }
    return status;
}
