// -i from a terminal: the password typed twice with echo off (from a pipe
// or file it is one line: cases/password_stdin.cases).
#include <signal.h>

#include <regex>

#include "cli/userdb.hpp"
#include "support/terminal.hpp"

namespace corvane::test {
namespace {

class PasswordPromptTest : public UserDbTest {
protected:
    void SetUp() override { create_table(); }
    terminal_child terminal{CORVANE_USERDB_PATH, {"-i", db, "add", "alice", "op"}};
};

TEST_F(PasswordPromptTest, TypedTwiceWithEchoOff) {
    ASSERT_TRUE(terminal.wait_for("Password: "));
    EXPECT_FALSE(terminal.echo_on());
    terminal.type("s3cret\n");
    ASSERT_TRUE(terminal.wait_for("Retype password: "));
    EXPECT_FALSE(terminal.echo_on());
    terminal.type("s3cret\n");
    EXPECT_EQ(terminal.wait(), 0);
    EXPECT_EQ(terminal.output(), "Password: \nRetype password: \n");
    EXPECT_TRUE(terminal.echo_on());
    EXPECT_EQ(read_accounts(db), (accounts{{"alice", "s3cret", "op"}}));
}

TEST_F(PasswordPromptTest, TwoDifferentEntriesChangeNothing) {
    ASSERT_TRUE(terminal.wait_for("Password: "));
    terminal.type("one\n");
    ASSERT_TRUE(terminal.wait_for("Retype password: "));
    terminal.type("two\n");
    EXPECT_EQ(terminal.wait(), 1);
    EXPECT_EQ(terminal.output(), "Password: \nRetype password: \nPasswords do not match.\n");
    EXPECT_TRUE(terminal.echo_on());
    EXPECT_TRUE(read_accounts(db).empty());
}

TEST_F(PasswordPromptTest, AnEmptyEntryIsRefusedAtOnce) {
    ASSERT_TRUE(terminal.wait_for("Password: "));
    terminal.type("\n");
    EXPECT_EQ(terminal.wait(), 1);
    EXPECT_EQ(terminal.output(), "Password: \nNo password given.\n");
    EXPECT_TRUE(read_accounts(db).empty());
}

TEST_F(PasswordPromptTest, AnInterruptTurnsEchoBackOn) {
    ASSERT_TRUE(terminal.wait_for("Password: "));
    // No core file could hold the password.
    EXPECT_TRUE(std::regex_search(read_file("/proc/" + std::to_string(terminal.pid()) + "/limits"),
                                  std::regex("Max core file size +0 +0 ")));
    terminal.type("half");
    terminal.kill(SIGINT);
    EXPECT_EQ(terminal.wait(), 128 + SIGINT);
    EXPECT_TRUE(terminal.echo_on());
    // The shell's next prompt starts on a line of its own.
    EXPECT_EQ(terminal.output(), "Password: \n");
    EXPECT_TRUE(read_accounts(db).empty());
    // Every other signal that ends a process on Linux, the real-time ones too.
    std::vector<int> ending = {SIGTERM, SIGHUP,  SIGQUIT,   SIGUSR1, SIGUSR2,   SIGALRM, SIGPIPE,
                               SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGABRT,   SIGBUS,  SIGFPE,
                               SIGILL,  SIGSEGV, SIGSYS,    SIGTRAP, SIGSTKFLT, SIGIO,   SIGPWR};
    for (int real_time = SIGRTMIN; real_time <= SIGRTMAX; ++real_time) ending.push_back(real_time);
    for (const int signal_number : ending) {
        terminal_child ended{CORVANE_USERDB_PATH, {"-i", db, "add", "alice"}};
        ASSERT_TRUE(ended.wait_for("Password: "));
        ended.kill(signal_number);
        EXPECT_EQ(ended.wait(), 128 + signal_number);
        EXPECT_TRUE(ended.echo_on()) << signal_number;
    }
}

// Started with ^Z ignored, as by a supervisor without job control: the
// prompt leaves it ignored, while it reads and afterwards.
TEST_F(PasswordPromptTest, AnIgnoredStopStaysIgnored) {
    terminal_child ignoring{"/bin/sh",
                            {"-c", "trap '' TSTP; exec \"$0\" \"$@\"", CORVANE_USERDB_PATH, "-w",
                             "10", "-i", db, "add", "bob"}};
    const std::string proc = "/proc/" + std::to_string(ignoring.pid());
    const auto stop_ignored = [&] {
        const std::string st = read_file(proc + "/status");
        return (std::stoull(st.substr(st.find("SigIgn:") + 7), nullptr, 16) >> (SIGTSTP - 1)) & 1;
    };
    sqlite_db holder(db);
    holder.exec("BEGIN EXCLUSIVE");
    ASSERT_TRUE(ignoring.wait_for("Password: "));
    EXPECT_TRUE(stop_ignored());
    ignoring.type("pw\n");
    ASSERT_TRUE(ignoring.wait_for("Retype password: "));
    ignoring.type("pw\n");
    // Past the prompt once it has the database open; the lock holds it there.
    const std::string opened = "ls -l " + proc + "/fd | grep -q users.db";
    for (int tries = 0; tries < 1000 && std::system(opened.c_str()) != 0; ++tries) usleep(10000);
    EXPECT_TRUE(stop_ignored());
}

}  // namespace
}  // namespace corvane::test
