// Processes that meet a lock, many writing one database at once, and writers
// killed at random moments. The counts are bounded so that each test ends
// within seconds.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "cli/userdb.hpp"

namespace corvane::test {
namespace {

using clock_type = std::chrono::steady_clock;

std::string sql_text(const std::string& value) {
    std::string quoted = "'";
    for (char c : value) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted + "'";
}

// ---------------------------------------------------------------------------
// A lock is not waited for

using LockTest = UserDbTest;

// Another connection holds the exclusive lock and lets it go after ten times
// the run time of the unhindered commands. A command that waited or retried
// would then succeed; each must fail at once, say why, and change nothing.
TEST_F(LockTest, ALockedCommandFailsWithoutWaitingForTheLock) {
    create_table();
    ASSERT_EQ(run("add", {"alice", "secret"}), quiet_success);
    // Every command, and what it says when it finds the lock.
    std::vector<std::pair<const command_row*, run_result>> locked;
    for (const command_row& entry : every_command()) {
        const std::string err = entry.args[0] == "list" ? "" : "ERROR: database is locked\n";
        locked.push_back({&entry, failure(err + refusal(entry))});
    }
    std::vector<double> durations;
    for (int i = 0; i < 3; ++i) {
        const auto start = clock_type::now();
        ASSERT_EQ(run("pass", {"alice", "secret"}), quiet_success);
        durations.push_back(std::chrono::duration<double>(clock_type::now() - start).count());
    }
    std::sort(durations.begin(), durations.end());
    const auto hold =
        std::chrono::duration<double>(10 * static_cast<double>(locked.size()) * durations[1] + 0.1);

    sqlite_db holder(db);
    holder.exec("BEGIN EXCLUSIVE");
    // Released at the latest after `hold`, at once when the commands are done.
    std::promise<void> done;
    std::thread release([&, finished = done.get_future()] {
        finished.wait_for(hold);
        holder.exec("ROLLBACK");
    });
    const auto start = clock_type::now();
    for (const auto& [entry, expected] : locked) {
        EXPECT_EQ(run_row(db, *entry), expected) << entry->args[0];
    }
    const auto elapsed = clock_type::now() - start;
    done.set_value();
    release.join();

    EXPECT_LT(std::chrono::duration<double>(elapsed).count(), hold.count());
    EXPECT_EQ(read_accounts(db), (accounts{{"alice", "secret", "user"}}));
}

// With -w a command waits for the lock instead: the holder lets go after
// half a second, and each way a command reaches the database (a statement,
// the listing's query, the import's write lock) then succeeds.
TEST_F(LockTest, WithWaitACommandSucceedsOnceTheLockIsGone) {
    create_table();
    const std::pair<std::vector<std::string>, run_result> waited[] = {
        {{"add", "alice", "secret"}, quiet_success},
        {{"list"}, {0, "user\talice\n", ""}},
        {{"import"}, quiet_success},
    };
    for (const auto& [args, expected] : waited) {
        sqlite_db holder(db);
        holder.exec("BEGIN EXCLUSIVE");
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            holder.exec("ROLLBACK");
        });
        std::vector<std::string> with_wait{"--wait", "5", db};
        with_wait.insert(with_wait.end(), args.begin(), args.end());
        const auto start = clock_type::now();
        EXPECT_EQ(userdb(with_wait), expected) << args[0];
        EXPECT_GE(clock_type::now() - start, std::chrono::milliseconds(400)) << args[0];
        release.join();
    }
    EXPECT_EQ(read_accounts(db), (accounts{{"alice", "secret", "user"}}));
}

// ---------------------------------------------------------------------------
// Concurrent writers

constexpr int writer_count = 8;
constexpr int accounts_per_writer = 4;
constexpr int operations_per_writer = 40;

struct account_state {
    std::string password;
    std::string credentials;
};

// What one writer did: its own accounts as they must now be stored, and every
// result that was neither a success nor a lock failure.
struct writer_report {
    std::map<std::string, account_state> stored;
    int succeeded = 0;
    int locked = 0;
    std::vector<std::string> problems;
};

// Runs one writer's series of commands on its own accounts and checks, after
// each one, that its account holds exactly what the exit status says.
writer_report run_writer(const std::string& db, int writer, unsigned seed) {
    std::mt19937 random(seed + static_cast<unsigned>(writer));
    writer_report report;
    sqlite_db reader(db);
    reader.exec("PRAGMA busy_timeout = 10000");

    for (int step = 0; step < operations_per_writer; ++step) {
        // Nicknames with a quote check that concurrency and quoting mix.
        const std::string name =
            "w" + std::to_string(writer) + "'a" + std::to_string(random() % accounts_per_writer);
        const std::string password = "pw'" + std::to_string(writer) + "-" + std::to_string(step);
        const std::string word = class_words[random() % 8];
        const auto found = report.stored.find(name);
        std::vector<std::string> args;
        if (found == report.stored.end()) {
            args = {"add", name, password, word};
        } else {
            switch (random() % 5) {
                case 0:
                case 1:
                    args = {"pass", name, password};
                    break;
                case 2:
                case 3:
                    args = {"mod", name, word};
                    break;
                default:
                    args = {"del", name};
                    break;
            }
        }
        const std::string message = refusal(args[0], args[1]);
        args.insert(args.begin(), db);
        const run_result result = userdb(args);
        if (result == quiet_success) {
            ++report.succeeded;
            if (args[1] == "add") report.stored[name] = {password, word};
            if (args[1] == "pass") report.stored[name].password = password;
            if (args[1] == "mod") report.stored[name].credentials = word;
            if (args[1] == "del") report.stored.erase(name);
        } else if (result == failure("ERROR: database is locked\n" + message)) {
            ++report.locked;
        } else {
            report.problems.push_back(args[1] + " " + name + " gave " +
                                      testing::PrintToString(result));
        }

        const auto rows = reader.query("SELECT password, credentials FROM users WHERE nickname = " +
                                       sql_text(name));
        const auto expected = report.stored.find(name);
        const bool matches = expected == report.stored.end()
                                 ? rows.empty()
                                 : rows.size() == 1 && rows[0][0] == expected->second.password &&
                                       rows[0][1] == expected->second.credentials;
        if (!matches) {
            report.problems.push_back("after " + args[1] + " " + name + " (status " +
                                      std::to_string(result.status) +
                                      ") the row does not hold what the status says");
        }
    }
    return report;
}

using ConcurrencyStressTest = UserDbTest;

// Eight processes at a time change distinct accounts of one file; a ninth
// connection keeps taking the exclusive lock for a few milliseconds so that
// lock failures happen for certain. No busy timeout: a locked command fails
// at once, says so, and changes nothing.
TEST_F(ConcurrencyStressTest, EveryExitStatusTellsWhatTheTableHolds) {
    create_table();
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));

    std::atomic<bool> writing{true};
    std::thread holder([&] {
        sqlite_db lock(db);
        lock.exec("PRAGMA busy_timeout = 10000");
        while (writing) {
            lock.exec("BEGIN EXCLUSIVE");
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            lock.exec("ROLLBACK");
            std::this_thread::sleep_for(std::chrono::milliseconds(12));
        }
    });
    const auto started = clock_type::now();
    std::vector<writer_report> reports(writer_count);
    {
        std::vector<std::thread> writers;
        for (int w = 0; w < writer_count; ++w) {
            writers.emplace_back(
                [&, w] { reports[static_cast<std::size_t>(w)] = run_writer(db, w, seed); });
        }
        for (std::thread& t : writers) t.join();
    }
    writing = false;
    holder.join();
    const auto elapsed = std::chrono::duration<double>(clock_type::now() - started).count();

    int succeeded = 0;
    int locked = 0;
    std::map<std::string, account_state> expected;
    for (const writer_report& report : reports) {
        for (const std::string& problem : report.problems) ADD_FAILURE() << problem;
        succeeded += report.succeeded;
        locked += report.locked;
        expected.insert(report.stored.begin(), report.stored.end());
    }
    std::printf(
        "%d commands by %d processes at once in %.1f s: %d succeeded, %d found the "
        "database locked\n",
        writer_count * operations_per_writer, writer_count, elapsed, succeeded, locked);
    EXPECT_EQ(succeeded + locked, writer_count * operations_per_writer);
    // Both roads must have been taken for the test to mean anything.
    EXPECT_GT(succeeded, 0);
    EXPECT_GT(locked, 0);

    EXPECT_EQ(integrity_check(db), "ok");
    std::map<std::string, account_state> stored;
    for (const auto& account : read_accounts(db)) stored[account[0]] = {account[1], account[2]};
    ASSERT_EQ(stored.size(), expected.size());
    for (const auto& [name, state] : expected) {
        ASSERT_TRUE(stored.count(name) == 1) << name;
        EXPECT_EQ(stored[name].password, state.password) << name;
        EXPECT_EQ(stored[name].credentials, state.credentials) << name;
    }
}

// ---------------------------------------------------------------------------
// Killed writers

constexpr int kills_wanted = 80;
constexpr int attempts_limit = 1000;
constexpr auto time_limit = std::chrono::seconds(60);

using KillStressTest = UserDbTest;

// A series of adds, each killed with SIGKILL after a random delay that spans
// the whole life of the process: before it opens the file, inside the
// transaction, after the commit. Every next add has to cope with what the
// killed one left, a hot journal included.
TEST_F(KillStressTest, AKilledWriterLosesNoCommittedAccountAndLeavesNoTornOne) {
    create_table();
    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);

    // How long one add takes here, unkilled.
    std::vector<double> durations;
    std::map<std::string, std::string> attempted;  // nickname -> password
    for (int i = 0; i < 7; ++i) {
        const std::string name = "warm-" + std::to_string(i);
        attempted[name] = "p";
        const auto start = clock_type::now();
        ASSERT_EQ(run("add", {name, "p"}), quiet_success);
        durations.push_back(
            std::chrono::duration<double, std::micro>(clock_type::now() - start).count());
    }
    std::sort(durations.begin(), durations.end());
    const double typical_us = durations[durations.size() / 2];
    // The delay spans 0 to `reach` times the typical add. The machine's load
    // changes while the test runs, so the reach follows what happens: an add
    // that finished before its kill shortens it, a kill lengthens it a little.
    std::uniform_real_distribution<double> fraction(0.0, 1.0);
    double reach = 1.3;

    std::set<std::string> committed = {"warm-0", "warm-1", "warm-2", "warm-3",
                                       "warm-4", "warm-5", "warm-6"};
    int kills = 0;
    int journals_left = 0;
    int attempts = 0;
    const auto deadline = clock_type::now() + time_limit;
    for (; attempts < attempts_limit && (kills < kills_wanted || journals_left == 0) &&
           clock_type::now() < deadline;
         ++attempts) {
        const std::string name = "k'" + std::to_string(attempts);
        const std::string password = "pw-" + std::to_string(attempts) + "-" + std::string(40, 'x');
        attempted[name] = password;
        child_process add(CORVANE_USERDB_PATH, {db, "add", name, password, "op"}, {});
        std::this_thread::sleep_for(
            std::chrono::duration<double, std::micro>(fraction(random) * reach * typical_us));
        add.kill(SIGKILL);
        const run_result result = add.wait();
        if (result.status == 128 + SIGKILL) {
            ++kills;
            reach = std::min(reach * 1.05, 3.0);
            if (file_exists(db + "-journal")) ++journals_left;
        } else if (result == quiet_success) {
            committed.insert(name);
            reach *= 0.8;
        } else {
            ADD_FAILURE() << "add " << name << " gave " << testing::PrintToString(result);
        }
    }
    std::printf(
        "%d adds (one takes %.0f us here): %d killed, %zu completed; %d kills left a "
        "journal behind\n",
        attempts, typical_us, kills, committed.size() - 7, journals_left);
    EXPECT_GE(kills, kills_wanted / 2)
        << "too few adds could be killed in " << attempts << " tries";
    // Some kills must have hit an open transaction for the test to mean anything.
    EXPECT_GT(journals_left, 0);

    EXPECT_EQ(integrity_check(db), "ok");
    std::set<std::string> stored_names;
    for (const auto& account : read_accounts(db)) {
        const std::string& name = account[0];
        stored_names.insert(name);
        ASSERT_TRUE(attempted.count(name) == 1) << "an account nobody added: " << name;
        EXPECT_EQ(account[1], attempted[name]) << name;
        EXPECT_EQ(account[2], name.rfind("warm-", 0) == 0 ? "user" : "op") << name;
    }
    for (const std::string& name : committed) EXPECT_TRUE(stored_names.count(name) == 1) << name;
    // The file is still fully usable.
    EXPECT_EQ(run("add", {"after", "p"}), quiet_success);
    EXPECT_EQ(run("del", {"after"}), quiet_success);
}

}  // namespace
}  // namespace corvane::test
