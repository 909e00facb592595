// import: accounts from standard input, one a line, all added or none. Every
// bad line is reported with its number, so one run finds every mistake.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "cli/userdb.hpp"

namespace corvane::test {
namespace {

using ImportTest = UserDbTest;

const std::string expected_format = "expected NICKNAME<TAB>PASSWORD[<TAB>CLASS]\n";

// The accounts of numbered_lines(count).
accounts numbered_accounts(int count) {
    accounts added;
    for (int i = 0; i < count; ++i) added.push_back({"n" + std::to_string(i), "pw", "user"});
    return added;
}

// `count` lines "nNUMBER<TAB>pw", NUMBER from 0, with some lines (numbered
// from 1) replaced.
std::string with_lines(int count, const std::map<int, std::string>& replaced) {
    std::string lines;
    for (int number = 1; number <= count; ++number) {
        const auto it = replaced.find(number);
        lines +=
            (it != replaced.end() ? it->second : "n" + std::to_string(number - 1) + "\tpw") + "\n";
    }
    return lines;
}

std::string numbered_lines(int count) { return with_lines(count, {}); }

// The tool sends accounts to the database this many at a time (IMPORT_BATCH).
constexpr int batch = 128;
std::string line(int number) { return "line " + std::to_string(number) + ": "; }
const std::string taken_twice = "ERROR: UNIQUE constraint failed: users.nickname\n";

TEST_F(ImportTest, AllLinesOrNone) {
    struct case_ {
        const char* what;
        std::string input;
        run_result expected;
        accounts added;
    };
    const case_ cases[] = {
        {"good lines, an empty one skipped, the last without a line feed",
         "alice\tpw\nbob\tpw2\top\n\ncarol\t\tadmin",
         quiet_success,
         {{"alice", "pw", "user"}, {"bob", "pw2", "op"}, {"carol", "", "admin"}}},
        {"bytes are kept as given, but a CR that ends the line",
         "dave\tpw\r\n\r\n\xC3\xA9ve\t p\rw \r\r\nfay\t\r\top\r\ngus\t" + repeat("p", 64) + "\r\n",
         quiet_success,
         {{"dave", "pw", "user"},
          {"\xC3\xA9ve", " p\rw \r", "user"},
          {"fay", "\r", "op"},
          {"gus", repeat("p", 64), "user"}}},
        {"no input", "", quiet_success, {}},
        {"bad first line",
         "alice\n"
         "bob\tpw\n",
         failure("line 1: " + expected_format),
         {}},
        {"bad middle line",
         "alice\tpw\nbob\t" + repeat("p", 65) + "\r\ncarol\tpw\n",
         failure("line 2: Password is too long.\n"),
         {}},
        {"bad last line", "alice\tpw\nbob\tpw\tboss", failure("line 2: " + credentials_fault), {}},
        {"every bad line, in order",
         "a\tb\tc\td\n\n" + repeat("n", 65) +
             "\tpw\n\tpw\n\tdup\n taken\tpw\nx\t\xFF\ny\tpw\t\n"
             "taken\tpw\nz\x01\tpw\n",
         failure("line 1: " + expected_format + "line 3: User name is too long.\n" +
                 "line 5: ERROR: UNIQUE constraint failed: users.nickname\n" +
                 "line 6: User name cannot start with white space.\n" +
                 "line 7: Password must be utf-8 encoded.\n" + "line 8: " + credentials_fault +
                 "line 9: ERROR: UNIQUE constraint failed: users.nickname\n" +
                 "line 10: User name contains illegal characters.\n"),
         {}},
        {"exactly one batch", numbered_lines(batch), quiet_success, numbered_accounts(batch)},
        {"one batch and one line", numbered_lines(batch + 1), quiet_success,
         numbered_accounts(batch + 1)},
        // A bad line sends the lines before it, so after line 3 the
        // batches are lines 4 to batch + 3, then batch + 4 on. Line 40
        // repeats line 11 and line 60 line 45: the rows after a refused one
        // in the same batch are still added and checked.
        {"bad lines in the first, a middle and the last batch, a name given in two batches",
         with_lines(3 * batch + 5, {{2, "taken\tpw"},
                                    {3, "n2\t" + repeat("p", 65)},
                                    {40, "n10\tpw"},
                                    {60, "n44\tpw"},
                                    {batch + 3, "twice\tpw"},
                                    {batch + 4, "twice\tpw"},
                                    {batch + 36, "n99"},
                                    {3 * batch + 5, "n5\tpw"}}),
         failure("line 2: " + taken_twice + "line 3: Password is too long.\n" + "line 40: " +
                 taken_twice + "line 60: " + taken_twice + line(batch + 4) + taken_twice +
                 line(batch + 36) + expected_format + line(3 * batch + 5) + taken_twice),
         {}},
    };
    for (const case_& c : cases) {
        const std::string file = dir.file(std::string(c.what) + ".db");
        ASSERT_EQ(userdb({file, "create"}), quiet_success);
        ASSERT_EQ(userdb({file, "add", "taken", "t"}), quiet_success);
        run_options with_input;
        with_input.stdin_text = c.input;
        EXPECT_EQ(userdb({file, "import"}, with_input), c.expected) << c.what;
        accounts stored = {{"taken", "t", "user"}};
        stored.insert(stored.end(), c.added.begin(), c.added.end());
        EXPECT_EQ(read_accounts(file), stored) << c.what;
    }
}

// A table that keeps the rows before a refused one of the same statement
// (ON CONFLICT FAIL): the refused batch is still undone whole, so only the
// line given twice is named.
TEST_F(ImportTest, ATableThatKeepsPartOfAFailedStatementGetsTheSameReport) {
    sqlite_db(db).exec(
        "CREATE TABLE users(nickname CHAR NOT NULL UNIQUE ON CONFLICT FAIL, password CHAR NOT "
        "NULL, credentials CHAR NOT NULL DEFAULT 'user')");
    EXPECT_EQ(run_with_input(with_lines(batch, {{30, "n3\tpw"}}), {}, "import"),
              failure("line 30: " + taken_twice));
    EXPECT_TRUE(read_accounts(db).empty());
}

// A writer's lock (an exclusive one: LockTest) fails the import before any
// input is read.
TEST_F(ImportTest, AWriteLockHeldElsewhereFailsAtOnceAndChangesNothing) {
    create_table();
    {
        sqlite_db holder(db);
        holder.exec("BEGIN IMMEDIATE");
        EXPECT_EQ(run_with_input("alice\tpw\n", {}, "import"),
                  failure("ERROR: database is locked\n"));
    }
    EXPECT_EQ(run_with_input("alice\tpw\n", {}, "import"), quiet_success);
    EXPECT_EQ(read_accounts(db), (accounts{{"alice", "pw", "user"}}));
}

TEST_F(ImportTest, InputThatCannotBeReadAddsNothing) {
    create_table();
    run_options unreadable;
    unreadable.stdin_path = dir.path();  // reading a directory fails with EISDIR
    EXPECT_EQ(userdb({db, "import"}, unreadable),
              failure("Unable to read standard input: Is a directory\n"));
    EXPECT_EQ(userdb({"-i", db, "add", "alice"}, unreadable),
              failure("Unable to read the password: Is a directory\n"));
    // A closed standard input is no empty one; the import opens nothing.
    const std::string fresh = dir.file("fresh.db");
    EXPECT_EQ(userdb_with_closed("<&-", {fresh, "import"}),
              failure("Unable to read standard input: Bad file descriptor\n"));
    EXPECT_FALSE(file_exists(fresh));
    EXPECT_EQ(userdb_with_closed("<&-", {"-i", db, "add", "alice"}),
              failure("Unable to read the password: Bad file descriptor\n"));
    EXPECT_TRUE(read_accounts(db).empty());
}

TEST_F(ImportTest, AFileWithoutTheTableFailsBeforeAnyInput) {
    EXPECT_EQ(run_with_input("alice\tpw\n", {}, "import"),
              failure("ERROR: no such table: users\n"));
    write_file(db, "not a database");
    EXPECT_EQ(run_with_input("alice\tpw\n", {}, "import"),
              failure("ERROR: file is not a database\n"));
}

// Under AddressSanitizer or valgrind the imports run for their memory
// checks, and the peaks are theirs, not the tool's.
TEST_F(ImportTest, MemoryStaysFlatHoweverManyOrLongTheLines) {
#if defined(__SANITIZE_ADDRESS__)
    const bool measured = false;
#else
    const bool measured = std::getenv("CORVANE_TEST_WRAPPER") == nullptr;
#endif
    // Both runs outgrow SQLite's page cache, so the difference is the input's.
    auto peak_kib = [&](const std::string& file, const std::string& input) {
        EXPECT_EQ(userdb({file, "create"}), quiet_success);
        run_options with_input;
        with_input.stdin_text = input;
        child_process child(CORVANE_USERDB_PATH, {file, "import"}, with_input);
        long peak = 0;
        while (child.running()) {
            peak = std::max(peak, child.peak_memory_kib());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        const run_result result = child.wait();
        EXPECT_EQ(result.status, result.err.empty() ? 0 : 1) << result.err;
        return peak;
    };
    // valgrind's memory checks run a tenth of the lines, within the time.
    const int lines = std::getenv("CORVANE_TEST_WRAPPER") == nullptr ? 100'000 : 10'000;
    const long fewer = peak_kib(dir.file("fewer.db"), numbered_lines(lines / 2));
    const long more = peak_kib(dir.file("more.db"), numbered_lines(lines));
    EXPECT_EQ(read_accounts(dir.file("more.db")).size(), static_cast<std::size_t>(lines));
    const long one_long_line =
        peak_kib(dir.file("long.db"), std::string(static_cast<std::size_t>(lines) * 240, 'x'));
    EXPECT_EQ(read_accounts(dir.file("long.db")).size(), 0u);
    if (!measured) return;
    std::printf("peak memory: %ld KiB for %d lines, %ld KiB for %d, %ld KiB for one of %d bytes\n",
                fewer, lines / 2, more, lines, one_long_line, lines * 240);
    EXPECT_LE(more, fewer + 512);
    EXPECT_LE(one_long_line, fewer + 512);
}

// Killed at any moment, an import has added everything or nothing.
using ImportKillStressTest = UserDbTest;

TEST_F(ImportKillStressTest, AKilledImportAddedAllOrNothing) {
    const int lines = 200'000;
    run_options with_input;
    with_input.stdin_text = numbered_lines(lines);
    ASSERT_EQ(userdb({dir.file("timing.db"), "create"}), quiet_success);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(userdb({dir.file("timing.db"), "import"}, with_input), quiet_success);
    const auto full_run = std::chrono::steady_clock::now() - start;

    int killed = 0;
    for (int round = 1; round <= 8; ++round) {
        const std::string file = dir.file("kill" + std::to_string(round) + ".db");
        ASSERT_EQ(userdb({file, "create"}), quiet_success);
        child_process child(CORVANE_USERDB_PATH, {file, "import"}, with_input);
        std::this_thread::sleep_for(full_run * round / 10);
        child.kill(SIGKILL);
        const run_result result = child.wait();
        if (result.status == 128 + SIGKILL) ++killed;
        const std::size_t stored = read_accounts(file).size();
        EXPECT_TRUE(stored == 0 || stored == static_cast<std::size_t>(lines)) << stored;
        EXPECT_EQ(integrity_check(file), "ok");
    }
    EXPECT_GT(killed, 0);
}

}  // namespace
}  // namespace corvane::test
