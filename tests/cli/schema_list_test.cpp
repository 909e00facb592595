#include <sys/stat.h>

#include <cstdlib>

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
        for (const command_row& entry : every_command()) {
            EXPECT_EQ(run_row(path, entry),
                      failure("Unable to open database: " + path + " (result=14)\n"))
                << path << " " << entry.args[0];
        }
    }
    EXPECT_FALSE(file_exists(dir.file("no")));
}

// Also a users that is a view (SQLite does not count what its INSTEAD OF
// triggers change: a change was made, then reported as failed) or a virtual
// table; and a table page whose cell pointer aims into the page's header,
// which the cell check finds as the page is loaded (without it, add and del
// exited 0 here and list printed junk). Each is refused before any change.
TEST_F(SchemaTest, AFileThatIsNotADatabaseIsReportedAndLeftAlone) {
    sqlite_db(dir.file("view"))
        .exec(
            "CREATE TABLE t(a); CREATE VIEW users AS SELECT a nickname, a password, a credentials "
            "FROM t; CREATE TRIGGER i INSTEAD OF INSERT ON users BEGIN INSERT INTO t VALUES(1); "
            "END;");
    sqlite_db(dir.file("virtual")).exec("CREATE VIRTUAL TABLE users USING fts4(nickname);");
    create_table();
    ASSERT_EQ(run("add", {"alice", "a"}), quiet_success);
    ASSERT_EQ(run("add", {"bob", "b"}), quiet_success);
    std::string damaged = read_file(db);
    damaged[damaged.size() / 3 + 8] = damaged[damaged.size() / 3 + 9] = '\0';  // page 2 of 3
    struct refused_file {
        std::string content, error, not_run;  // commands that do something else with it
    };
    const refused_file files[] = {
        {"just some text, not a database\n", "file is not a database", ""},
        {read_file(dir.file("view")), "users is not a table", "create list check"},
        {read_file(dir.file("virtual")), "users is not a table", "create check"},
        {damaged, "database disk image is malformed", "create import update check"}};
    for (const refused_file& file : files) {
        write_file(db, file.content);
        for (const command_row& entry : every_command()) {
            if (file.not_run.find(entry.args[0]) != std::string::npos) continue;
            const std::string err = entry.args[0] == "list" ? "" : "ERROR: " + file.error + "\n";
            EXPECT_EQ(run_row(db, entry), failure(err + refusal(entry))) << entry.args[0];
        }
        EXPECT_TRUE(read_file(db) == file.content) << file.error;
    }
}

// The open creates the file, as any open does; then each command but create
// meets the missing table.
TEST_F(SchemaTest, WithoutTheTableEveryCommandReportsTheDatabaseError) {
    for (const command_row& entry : every_command()) {
        if (entry.args[0] == "create") continue;
        const std::string err = entry.args[0] == "list" ? "" : "ERROR: no such table: users\n";
        // check finds the table missing, a problem of the file.
        const run_result said = entry.args[0] == "check"
                                    ? run_result{1, "file: no users table\n", ""}
                                    : failure(err + refusal(entry));
        EXPECT_EQ(run_row(db, entry), said) << entry.args[0];
    }
    EXPECT_TRUE(file_exists(db));
}

// check runs SQLite's integrity check on a second connection and thread;
// with no descriptor left for that connection it runs it on the first, and
// says the same lines in the same order.
TEST_F(SchemaTest, CheckWithOneConnectionSaysTheSame) {
    sqlite_db(db).exec(
        "CREATE TABLE users(nickname, password, credentials); CREATE INDEX by_password ON "
        "users(password); INSERT INTO users VALUES ('bob', 'p', 'op'), (42, 'r', 'op'); PRAGMA "
        "writable_schema = ON; UPDATE sqlite_master SET sql = 'CREATE INDEX by_password ON "
        "users(credentials)' WHERE name = 'by_password'");
    const run_result two = run("check");
    EXPECT_EQ(two, (run_result{1,
                               "file: row 1 missing from index by_password\n"
                               "file: row 2 missing from index by_password\n"
                               "row 2, nickname 42: User name is not text but an integer.\n",
                               ""}));
    // Descriptors 0 to 2 and the file's: none left over. (A wrapper such as
    // valgrind keeps the shell from lowering the limit.)
    if (std::getenv("CORVANE_TEST_WRAPPER") != nullptr) GTEST_SKIP() << "run under a wrapper";
    EXPECT_EQ(run_program("/bin/sh", {"-c",
                                      "exec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&- && ulimit -n 4 && "
                                      "exec \"$0\" \"$@\"",
                                      CORVANE_USERDB_PATH, db, "check"}),
              two);
}

}  // namespace
}  // namespace corvane::test
