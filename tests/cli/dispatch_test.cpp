#include <cstdlib>

#include "cli/userdb.hpp"

namespace corvane::test {
namespace {

using DispatchTest = UserDbTest;

TEST_F(DispatchTest, ShortOrUnknownInvocationShowsUsageAndTouchesNothing) {
    const std::vector<std::vector<std::string>> invocations = {
        {},
        {db},
        {db, "LIST"},
        {db, "Add", "alice", "secret"},
        {db, "delete", "alice"},
        {db, "lis"},
        {db, "list "},
        {db, ""},
        {db, "help"},
    };
    for (const auto& args : invocations) {
        EXPECT_EQ(userdb(args), (run_result{1, usage_text(), ""})) << testing::PrintToString(args);
        EXPECT_FALSE(file_exists(db)) << testing::PrintToString(args);
    }
}

TEST_F(DispatchTest, OptionsComeBeforeTheFileName) {
    const std::string program = CORVANE_USERDB_PATH;
    // The help text written out again, deliberately: the test states the
    // bytes it expects rather than reading them from the tool's source.
    const std::string help =
        usage_text(program) +
        "Options, before the filename:\n"
        "  -i, --password-stdin  add and pass read the password from standard input\n"
        "  -w, --wait SECONDS    wait up to SECONDS (0 to 86400) for a locked database\n"
        "  --help                show this help\n"
        "  --version             show the version\n"
        "  --                    end of the options\n"
        "\n"
        "More commands:\n"
        "  import  add the accounts read from standard input, all or none, one a line:\n"
        "          NICKNAME<TAB>PASSWORD[<TAB>CLASS]\n"
        "\n"
        "Classes: admin, super, op, user (the default), bot, ubot, opbot, opubot\n";
    const run_result version{0, "corvane-userdb " CORVANE_VERSION "\n", ""};
    const run_result usage{1, usage_text(program), ""};
    const std::pair<std::vector<std::string>, run_result> cases[] = {
        {{"--help"}, {0, help, ""}},
        {{"--help", db, "create"}, {0, help, ""}},
        {{"--version"}, version},
        {{"-i", "--version", db, "create"}, version},
        {{"-i", "--help"}, usage},  // --help only as the first argument
        {{"-x", db, "create"}, usage},
        {{"--password", db, "create"}, usage},
        {{"-", db, "create"}, usage},
        {{"-i", db}, usage},
        {{"--", "--help"}, usage},  // a file named --help, no command
        {{"-w", "0", "--version"}, version},
        {{"--wait", "86400", "--version"}, version},
        {{"--wait=007", "--version"}, version},
        {{"-w", db, "create"}, usage},  // the file name is no number of seconds
        {{"--wait=", db, "create"}, usage},
        {{"-w", "+5", db, "create"}, usage},
        {{"-w", "1.5", db, "create"}, usage},
        {{"--wait", "86401", db, "create"}, usage},
        {{"--wait=4294967297", db, "create"}, usage},
        {{"-w"}, usage},
    };
    for (const auto& [args, expected] : cases) {
        EXPECT_EQ(userdb(args), expected) << testing::PrintToString(args);
        EXPECT_FALSE(file_exists(db)) << testing::PrintToString(args);
    }
    run_options here;
    here.cwd = dir.path();
    EXPECT_EQ(userdb({"--", "-odd.db", "create"}, here), quiet_success);
    EXPECT_EQ(userdb({"-i", "--", "-odd.db", "list"}, here), quiet_success);
    EXPECT_TRUE(file_exists(dir.file("-odd.db")));
}

TEST_F(DispatchTest, UsageShowsTheProgramNameAsInvoked) {
    if (std::getenv("CORVANE_TEST_WRAPPER") != nullptr) {
        GTEST_SKIP() << "a child run under CORVANE_TEST_WRAPPER cannot be shown another argv[0]";
    }
    run_options options;
    options.argv0 = "/opt/admin/bin/userdb";
    EXPECT_EQ(userdb({db}, options), (run_result{1, usage_text("/opt/admin/bin/userdb"), ""}));
    EXPECT_EQ(userdb({db, "del"}, options),
              failure(command_usage("del username", "/opt/admin/bin/userdb")));
}

TEST_F(DispatchTest, TooFewArgumentsShowTheCommandsOwnUsage) {
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"add"}, "add username password [credentials = user]"},
        {{"add", "alice"}, "add username password [credentials = user]"},
        {{"del"}, "del username"},
        {{"mod"}, "mod username credentials"},
        {{"mod", "alice"}, "mod username credentials"},
        {{"pass"}, "pass username password"},
        {{"pass", "alice"}, "pass username password"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.args[0], {c.args.begin() + 1, c.args.end()}), failure(command_usage(c.err)))
            << c.err;
        EXPECT_FALSE(file_exists(db));
    }
}

TEST_F(DispatchTest, ExtraArgumentsAreIgnored) {
    EXPECT_EQ(run("create", {"extra", "words"}), quiet_success);
    EXPECT_EQ(run("add", {"alice", "secret", "op", "extra"}), quiet_success);
    EXPECT_EQ(run("mod", {"alice", "admin", "extra"}), quiet_success);
    EXPECT_EQ(run("pass", {"alice", "new", "extra"}), quiet_success);
    EXPECT_EQ(run("list", {"extra"}), (run_result{0, "admin\talice\n", ""}));
    EXPECT_EQ(run("del", {"alice", "extra"}), quiet_success);
    EXPECT_TRUE(read_accounts(db).empty());
}

TEST_F(DispatchTest, OutputThatCannotBeWrittenIsAFailure) {
    create_table();
    ASSERT_EQ(run("add", {"alice", "secret"}), quiet_success);
    run_options to_full_disk;
    to_full_disk.stdout_path = "/dev/full";
    const run_result disk_full =
        failure("Unable to write standard output: No space left on device\n");
    EXPECT_EQ(userdb({db, "list"}, to_full_disk), disk_full);
    EXPECT_EQ(userdb({db}, to_full_disk), disk_full);
    const run_result closed = failure("Unable to write standard output: Bad file descriptor\n");
    EXPECT_EQ(userdb_with_closed(">&-", {db, "list"}), closed);
    EXPECT_EQ(userdb_with_closed(">&-", {"--version"}), closed);
    // Nothing to write is no failure.
    ASSERT_EQ(run("del", {"alice"}), quiet_success);
    EXPECT_EQ(userdb({db, "list"}, to_full_disk).status, 0);
}

}  // namespace
}  // namespace corvane::test
