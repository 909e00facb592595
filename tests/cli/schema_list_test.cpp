#include <sys/stat.h>

#include "cli/userdb.hpp"

namespace corvane::test {
namespace {

using SchemaTest = UserDbTest;

TEST_F(SchemaTest, ANewFileIsOwnerOnlyAndAnExistingFileKeepsItsMode) {
    const mode_t saved = umask(0);  // the widest umask a caller could have
    EXPECT_EQ(run("create"), quiet_success);
    umask(saved);
    EXPECT_EQ(file_mode(db), 0600u);

    const std::string shared = dir.file("shared.db");
    write_file(shared, "");
    chmod(shared.c_str(), 0644);
    EXPECT_EQ(userdb({shared, "create"}), quiet_success);
    EXPECT_EQ(userdb({shared, "add", "alice", "secret"}), quiet_success);
    EXPECT_EQ(file_mode(shared), 0644u);
}

TEST_F(SchemaTest, AFileThatCannotBeOpenedEndsEveryCommand) {
    const std::string missing_dir = dir.file("no/such/dir/users.db");
    // A directory inside the test's own: its parent /tmp is writable by all.
    const std::string a_directory = dir.file("a_directory");
    ASSERT_EQ(mkdir(a_directory.c_str(), 0700), 0);
    for (const std::string& path : {missing_dir, a_directory}) {
        for (const command_row& entry : every_command) {
            EXPECT_EQ(run_row(path, entry),
                      failure("Unable to open database: " + path + " (result=14)\n"))
                << path << " " << entry.args[0];
        }
    }
    EXPECT_FALSE(file_exists(dir.file("no")));
}

TEST_F(SchemaTest, AFileThatIsNotADatabaseIsReportedAndLeftAlone) {
    write_file(db, "just some text, not a database\n");
    for (const command_row& entry : every_command) {
        const std::string err = entry.args[0] == "list" ? "" : "ERROR: file is not a database\n";
        EXPECT_EQ(run_row(db, entry), failure(err + refusal(entry))) << entry.args[0];
    }
    EXPECT_EQ(read_file(db), "just some text, not a database\n");
}

// The open creates the file, as any open does; then each command but create
// meets the missing table.
TEST_F(SchemaTest, WithoutTheTableEveryCommandReportsTheDatabaseError) {
    for (const command_row& entry : every_command) {
        if (entry.args[0] == "create") continue;
        const std::string err = entry.args[0] == "list" ? "" : "ERROR: no such table: users\n";
        // check finds the table missing, a problem of the file.
        const run_result said = entry.args[0] == "check" ? run_result{1, "file: no users table\n", ""}
                                                         : failure(err + refusal(entry));
        EXPECT_EQ(run_row(db, entry), said) << entry.args[0];
    }
    EXPECT_TRUE(file_exists(db));
}

}  // namespace
}  // namespace corvane::test
