// import: what needs more than a case (cases/import.cases): a lock held
// elsewhere, input that cannot be read, memory, kills.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "cli/userdb.hpp"

namespace corvane::test {
namespace {

using ImportTest = UserDbTest;

// `count` lines "nNUMBER<TAB>pw", NUMBER from 0.
std::string numbered_lines(int count) {
    std::string lines;
    for (int number = 0; number < count; ++number) lines += "n" + std::to_string(number) + "\tpw\n";
    return lines;
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

// Under AddressSanitizer or valgrind the imports run for their memory
// checks, and the peaks are theirs, not the tool's.
TEST_F(ImportTest, MemoryStaysFlatHoweverManyOrLongTheLines) {
#if defined(__SANITIZE_ADDRESS__)
    const bool measured = false;
#else
    const bool measured = std::getenv("CORVANE_TEST_WRAPPER") == nullptr;
#endif
    // The measured runs outgrow SQLite's page cache (32 MiB in an import),
    // so the difference is the input's; valgrind's memory checks run fewer
    // lines, within the time.
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
    auto accounts_of = [](int count) {
        std::string lines;
        for (int number = 0; number < count; ++number) {
            lines += "n" + std::to_string(number) + "\t" + repeat("p", 64) + "\n";
        }
        return lines;
    };
    const int lines = measured                                         ? 800'000
                      : std::getenv("CORVANE_TEST_WRAPPER") == nullptr ? 100'000
                                                                       : 10'000;
    const long fewer = peak_kib(dir.file("fewer.db"), accounts_of(lines / 2));
    const long more = peak_kib(dir.file("more.db"), accounts_of(lines));
    EXPECT_EQ(read_accounts(dir.file("more.db")).size(), static_cast<std::size_t>(lines));
    const std::size_t long_line = 24'000'000;
    const long one_long_line = peak_kib(dir.file("long.db"), std::string(long_line, 'x'));
    EXPECT_EQ(read_accounts(dir.file("long.db")).size(), 0u);
    if (!measured) return;
    std::printf("peak memory: %ld KiB for %d lines, %ld KiB for %d, %ld KiB for one of %zu bytes\n",
                fewer, lines / 2, more, lines, one_long_line, long_line);
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
