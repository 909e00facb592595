// The invocations a case cannot state (cases/dispatch.cases has the rest):
// another argv[0], standard output that cannot be written; and the table of
// every command held to --help.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>

#include "cli/userdb.hpp"

namespace corvane::test {
namespace {

using DispatchTest = UserDbTest;

TEST_F(DispatchTest, UsageShowsTheProgramNameAsInvoked) {
    if (std::getenv("CORVANE_TEST_WRAPPER") != nullptr) {
        GTEST_SKIP() << "a child run under CORVANE_TEST_WRAPPER cannot be shown another argv[0]";
    }
    // What the cases show for the built path, with the name invoked instead.
    const std::string path = CORVANE_USERDB_PATH;
    const auto renamed = [&](std::string text) {
        for (std::size_t at = 0; (at = text.find(path, at)) != std::string::npos;) {
            text.replace(at, path.size(), "/opt/admin/bin/userdb");
        }
        return text;
    };
    run_options options;
    options.argv0 = "/opt/admin/bin/userdb";
    for (const std::vector<std::string>& args : {std::vector<std::string>{db}, {db, "del"}}) {
        const run_result as_built = userdb(args);
        EXPECT_EQ(userdb(args, options),
                  (run_result{as_built.status, renamed(as_built.out), renamed(as_built.err)}));
    }
}

// Each command --help lists has its row in a case file, and so runs in
// every test of a failing, locked or unsafe database.
TEST_F(DispatchTest, EveryCommandOfTheHelpHasItsRowInACaseFile) {
    const run_result shown = userdb({"--help"});
    EXPECT_EQ(userdb({"-h", db, "create"}), shown);
    std::istringstream help(shown.out);
    std::vector<std::string> listed;
    bool in_list = false;
    for (std::string line; std::getline(help, line);) {
        if (!line.empty() && line[0] != ' ') {
            in_list = line == "Commands:";
        } else if (in_list && line.size() > 2 &&
                   std::islower(static_cast<unsigned char>(line[2]))) {
            listed.push_back(line.substr(2, line.find(' ', 2) - 2));
        }
    }
    std::vector<std::string> rows;
    for (const command_row& entry : every_command()) rows.push_back(entry.args[0]);
    std::sort(listed.begin(), listed.end());
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, listed);
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
