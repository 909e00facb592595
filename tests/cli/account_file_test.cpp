// The account file against a hostile local user: directories other users
// may write, stored text a terminal would obey, and commits that must reach
// the disk (names taken literally: cases/file_names.cases).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>

#include "cli/userdb.hpp"
#include "support/terminal.hpp"

namespace corvane::test {
namespace {

using AccountFileTest = UserDbTest;

std::vector<std::string> entries(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(AccountFileTest, ADirectoryEveryUserMayWriteIsRefusedForEveryCommand) {
    const std::string open_dir = dir.file("open");
    const std::string safe_dir = dir.file("safe");
    ASSERT_EQ(mkdir(open_dir.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(safe_dir.c_str(), 0700), 0);
    const std::string existing = open_dir + "/users.db";
    ASSERT_EQ(userdb({existing, "create"}), quiet_success);
    ASSERT_EQ(symlink("../open/users.db", (safe_dir + "/into-open.db").c_str()), 0);
    ASSERT_EQ(symlink("../safe/users.db", (open_dir + "/into-safe.db").c_str()), 0);
    const std::string open_real = std::filesystem::canonical(open_dir).string();

    // Run in the open directory, so that a bare name has "." as its directory.
    run_options in_open;
    in_open.cwd = open_dir;
    const std::pair<std::string, std::string> places[] = {
        {existing, open_dir},
        {open_dir + "/new.db", open_dir},
        {"users.db", "."},
        {safe_dir + "/into-open.db", open_real},
        {open_dir + "/into-safe.db", open_dir},
    };
    for (const mode_t mode : {0777u, 01777u}) {
        ASSERT_EQ(chmod(open_dir.c_str(), mode), 0);
        for (const auto& [path, refused] : places) {
            for (const command_row& entry : every_command()) {
                EXPECT_EQ(run_row(path, entry, in_open),
                          failure("Unsafe database directory: " + refused +
                                  " (writable by every user)\n"))
                    << std::oct << mode << " " << path << " " << entry.args[0];
            }
        }
        EXPECT_EQ(entries(open_dir), (std::vector<std::string>{"into-safe.db", "users.db"}));
    }
    // Names the check could not follow are refused, not let through for
    // SQLite to resolve its own way: a missing component, a chain of more
    // links than are followed, a target too long once joined to its link.
    std::string chain = safe_dir + "/link0";
    for (int i = 0; i < 101; ++i) {
        const std::string next = i < 100 ? "link" + std::to_string(i + 1) : "../open/chained.db";
        ASSERT_EQ(symlink(next.c_str(), (safe_dir + "/link" + std::to_string(i)).c_str()), 0);
    }
    const std::string long_target = "../open/" + repeat("./", PATH_MAX / 2 - 8) + "long.db";
    ASSERT_EQ(symlink(long_target.c_str(), (safe_dir + "/long.db").c_str()), 0);
    // Nor is anything but a regular file opened: a FIFO, a device.
    ASSERT_EQ(mkfifo((safe_dir + "/fifo").c_str(), 0600), 0);
    for (const std::string& name :
         {safe_dir + "/missing/../../open/acc.db", chain, safe_dir + "/long.db", safe_dir + "/fifo",
          std::string("/dev/null")}) {
        EXPECT_EQ(userdb({name, "create"}),
                  failure("Unable to open database: " + name + " (result=14)\n"));
        EXPECT_FALSE(std::filesystem::exists(name + "-journal")) << name;
    }
    EXPECT_EQ(entries(open_dir), (std::vector<std::string>{"into-safe.db", "users.db"}));

    // Group-writable is the administrator's choice.
    ASSERT_EQ(chmod(open_dir.c_str(), 0770), 0);
    EXPECT_EQ(userdb({existing, "add", "a", "p"}), quiet_success);
    EXPECT_EQ(userdb({safe_dir + "/into-open.db", "list"}), (run_result{0, "user\ta\n", ""}));

    // Above the database's own directory, only a sticky directory may be
    // written by every user: elsewhere anyone could swap the directory, or
    // a link on the way to it.
    const std::string inner = open_dir + "/inner";
    ASSERT_EQ(mkdir(inner.c_str(), 0700), 0);
    ASSERT_EQ(symlink("../safe", (open_dir + "/to-safe").c_str()), 0);
    for (const mode_t mode : {0777u, 0773u}) {
        ASSERT_EQ(chmod(open_dir.c_str(), mode), 0);
        for (const std::string& path : {inner + "/users.db", open_dir + "/to-safe/users.db"}) {
            EXPECT_EQ(userdb({path, "create"}), failure("Unsafe database directory: " + open_real +
                                                        " (writable by every user)\n"))
                << std::oct << mode << " " << path;
        }
    }
    ASSERT_EQ(chmod(open_dir.c_str(), 01777), 0);
    EXPECT_EQ(userdb({inner + "/users.db", "create"}), quiet_success);
    EXPECT_EQ(userdb({open_dir + "/to-safe/users.db", "create"}), quiet_success);
}

TEST_F(AccountFileTest, AListingToATerminalShowsNothingTheTerminalWouldObey) {
    create_table();
    struct shown {
        std::string stored;
        std::string on_terminal;
    };
    const shown names[] = {
        {"\x1b]0;owned\x07", "?]0;owned?"},     // window title
        {"a\nuser\tforged", "a?user?forged"},   // a forged line
        {"del\x7f", "del?"},                    // DEL
        {"c1\xC2\x85\xC2\x9B", "c1??"},         // C1 controls: NEL, CSI
        {"\xE2\x80\xAEreversed", "?reversed"},  // right-to-left override
        {"\xE2\x80\x8E\xE2\x80\x8F\xE2\x81\xA6\xE2\x81\xA9", "????"},
        {"\xD8\x9C\xE2\x80\xA8\xE2\x80\xA9", "???"},      // U+061C, line/paragraph separators
        {"bad\xFF\xC3", "bad??"},                         // malformed bytes
        {"\xE2\x82 \xC0\xAF \xED\xA0\x80", "?? ?? ???"},  // cut short, overlong, surrogate
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xE2\x80\x8D",
         "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xE2\x80\x8D"},
    };
    std::string exact;
    std::string safe;
    {
        sqlite_db seed(db);
        for (const shown& name : names) {
            seed.exec("INSERT INTO users (nickname, password, credentials) VALUES (" +
                      std::string("'") + name.stored + "', 'pw', '\x1b[2Jop')");
            exact += "\x1b[2Jop\t" + name.stored + "\n";
            safe += "?[2Jop\t" + name.on_terminal + "\n";
        }
    }
    terminal_child terminal(CORVANE_USERDB_PATH, {db, "list"});
    EXPECT_EQ(terminal.wait(), 0);
    EXPECT_EQ(terminal.output(), safe);
    EXPECT_EQ(run("list"), (run_result{0, exact, ""}));

    // Messages on a terminal pass the same filter: the database's error
    // text (from a crafted trigger) and a name echoed back.
    sqlite_db(db).exec("CREATE TRIGGER t BEFORE DELETE ON users BEGIN SELECT RAISE(ABORT, '" +
                       std::string(names[0].stored) + "'); END");
    const std::string nickname = names[0].stored;
    terminal_child messages(CORVANE_USERDB_PATH, {db, "del", nickname});
    EXPECT_EQ(messages.wait(), 1);
    EXPECT_EQ(messages.output(), "ERROR: " + names[0].on_terminal + "\nUnable to delete user \"" +
                                     names[0].on_terminal + "\".\n");
    EXPECT_EQ(run("del", {nickname}),
              failure("ERROR: " + nickname + "\nUnable to delete user \"" + nickname + "\".\n"));
}

// The journal's removal is the commit; the directory must be synced after
// it, or a power cut can bring the journal back and roll the change back.
TEST_F(AccountFileTest, TheDirectoryIsSyncedAfterTheJournalIsRemoved) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "LeakSanitizer does not run under ptrace";
#endif
    if (std::getenv("CORVANE_TEST_WRAPPER") != nullptr) GTEST_SKIP() << "traced without wrapper";
    if (std::system("command -v strace >/dev/null 2>&1") != 0) GTEST_SKIP() << "no strace";
    create_table();
    const std::string trace = dir.file("trace");
    const std::vector<std::string> traced = {
        "-o",  trace,   "-e", "trace=unlink,fsync,fdatasync,openat", CORVANE_USERDB_PATH, db,
        "add", "alice", "pw"};
    ASSERT_EQ(run_program("strace", traced), quiet_success);
    const std::string calls = read_file(trace);
    const std::size_t unlinked = calls.find("unlink(\"" + db + "-journal\")");
    ASSERT_NE(unlinked, std::string::npos) << calls;
    const std::regex directory_sync("openat\\(AT_FDCWD, \"" + dir.path() +
                                    "\", O_RDONLY[^)]*\\) = ([0-9]+)\\nf(data)?sync\\(\\1\\)");
    EXPECT_TRUE(std::regex_search(calls.substr(unlinked), directory_sync)) << calls;
}

}  // namespace
}  // namespace corvane::test
