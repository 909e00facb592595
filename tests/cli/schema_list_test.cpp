#include <sys/stat.h>

#include "cli/userdb.hpp"

namespace corvane::test {
namespace {

using SchemaTest = UserDbTest;
using ListTest = UserDbTest;

TEST_F(SchemaTest, CreateMakesTheFileAndTheTable) {
    EXPECT_EQ(run("create"), quiet_success);
    sqlite_db check(db);
    const auto rows = check.query("SELECT type, name, sql FROM sqlite_master");
    ASSERT_EQ(rows.size(), 2u);  // the table and its UNIQUE index
    EXPECT_EQ(rows[0][2].value_or(""),
              "CREATE TABLE users(nickname CHAR NOT NULL UNIQUE,password CHAR NOT NULL,"
              "credentials CHAR NOT NULL DEFAULT 'user',created TIMESTAMP DEFAULT "
              "(DATETIME('NOW')),activity TIMESTAMP DEFAULT (DATETIME('NOW')))");
}

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

TEST_F(SchemaTest, CreatingTwiceReportsTheErrorButSucceeds) {
    create_table();
    ASSERT_EQ(run("add", {"alice", "secret"}), quiet_success);
    EXPECT_EQ(run("create"), (run_result{0, "", "ERROR: table users already exists\n"}));
    EXPECT_EQ(read_accounts(db), (accounts{{"alice", "secret", "user"}}));
}

TEST_F(SchemaTest, AFileThatCannotBeOpenedEndsEveryCommand) {
    const std::string missing_dir = dir.file("no/such/dir/users.db");
    // A directory inside the test's own: its parent /tmp is writable by all.
    const std::string a_directory = dir.file("a_directory");
    ASSERT_EQ(mkdir(a_directory.c_str(), 0700), 0);
    for (const std::string& path : {missing_dir, a_directory}) {
        for (std::vector<std::string> args : every_command) {
            args.insert(args.begin(), path);
            EXPECT_EQ(userdb(args), failure("Unable to open database: " + path + " (result=14)\n"))
                << testing::PrintToString(args);
        }
    }
    EXPECT_FALSE(file_exists(dir.file("no")));
}

TEST_F(SchemaTest, AFileThatIsNotADatabaseIsReportedAndLeftAlone) {
    write_file(db, "just some text, not a database\n");
    for (const std::vector<std::string>& args : every_command) {
        const std::string err = args[0] == "list" ? "" : "ERROR: file is not a database\n";
        EXPECT_EQ(run(args[0], {args.begin() + 1, args.end()}), failure(err + refusal(args)))
            << args[0];
    }
    EXPECT_EQ(read_file(db), "just some text, not a database\n");
}

// A view whose INSTEAD OF triggers write another table (SQLite does not
// count those changes: each change was made and then reported as failed),
// and a virtual table: refused by every command that changes accounts,
// before anything changes. list reads through them.
TEST_F(SchemaTest, AUsersThatIsNotAnOrdinaryTableIsNeverChanged) {
    const std::string view = dir.file("view.db");
    sqlite_db(view).exec(
        "CREATE TABLE kept(nickname UNIQUE, password, credentials);"
        "INSERT INTO kept VALUES('alice', 'a', 'user'), ('bob', 'b', 'op');"
        "CREATE VIEW users AS SELECT * FROM kept;"
        "CREATE TRIGGER i INSTEAD OF INSERT ON users BEGIN INSERT INTO kept VALUES(NEW.nickname, "
        "NEW.password, NEW.credentials); END;"
        "CREATE TRIGGER d INSTEAD OF DELETE ON users BEGIN DELETE FROM kept WHERE nickname = "
        "OLD.nickname; END;"
        "CREATE TRIGGER u INSTEAD OF UPDATE ON users BEGIN UPDATE kept SET password = "
        "NEW.password, credentials = NEW.credentials WHERE nickname = OLD.nickname; END;");
    const std::string virtual_table = dir.file("virtual.db");
    sqlite_db(virtual_table)
        .exec(
            "CREATE VIRTUAL TABLE users USING fts4(nickname, password, credentials);"
            "INSERT INTO users VALUES('alice', 'a', 'user'), ('bob', 'b', 'op');");
    for (const std::string& file : {view, virtual_table}) {
        const std::string before = read_file(file);
        for (const std::vector<std::string>& args : every_command) {
            if (args[0] == "create" || args[0] == "list") continue;
            std::vector<std::string> line{file};
            line.insert(line.end(), args.begin(), args.end());
            EXPECT_EQ(userdb(line), failure("ERROR: users is not a table\n" + refusal(args)))
                << file << " " << args[0];
        }
        EXPECT_TRUE(read_file(file) == before) << file;
        EXPECT_EQ(userdb({file, "list"}), (run_result{0, "user\talice\nop\tbob\n", ""}));
    }
}

// Alice's cell pointer aimed into the header of the table's page: the cell
// check finds it as the page is loaded, before a change is built on it.
// Without it, add and del exited 0 and list printed what it found there.
TEST_F(SchemaTest, ADamagedPageIsFoundBeforeAnyChange) {
    create_table();
    ASSERT_EQ(run("add", {"alice", "a"}), quiet_success);
    ASSERT_EQ(run("add", {"bob", "b"}), quiet_success);
    std::string bytes = read_file(db);
    const std::size_t page =
        static_cast<unsigned char>(bytes[16]) * 256u + static_cast<unsigned char>(bytes[17]);
    bytes[page + 8] = bytes[page + 9] = '\0';  // page 2's first cell pointer
    write_file(db, bytes);
    for (const std::vector<std::string>& args : every_command) {
        if (args[0] == "create" || args[0] == "import") continue;
        const std::string err =
            args[0] == "list" ? "" : "ERROR: database disk image is malformed\n";
        EXPECT_EQ(run(args[0], {args.begin() + 1, args.end()}), failure(err + refusal(args)))
            << args[0];
    }
    EXPECT_EQ(run_with_input("carol\tc\n", {}, "import"),
              failure("line 1: ERROR: database disk image is malformed\n"));
    EXPECT_TRUE(read_file(db) == bytes);
}

// The open creates the file, as any open does; then each command but create
// meets the missing table.
TEST_F(SchemaTest, WithoutTheTableEveryCommandReportsTheDatabaseError) {
    for (const std::vector<std::string>& args : every_command) {
        if (args[0] == "create") continue;
        const std::string err = args[0] == "list" ? "" : "ERROR: no such table: users\n";
        EXPECT_EQ(run(args[0], {args.begin() + 1, args.end()}), failure(err + refusal(args)))
            << args[0];
    }
    EXPECT_TRUE(file_exists(db));
}

TEST_F(ListTest, PrintsClassTabNicknamePerAccount) {
    create_table();
    EXPECT_EQ(run("list"), quiet_success);
    ASSERT_EQ(run("add", {"alice", "secret"}), quiet_success);
    ASSERT_EQ(run("add", {"bob the builder", "x", "opubot"}), quiet_success);
    ASSERT_EQ(run("add", {"\"q\" 'z' %s", "x", "admin"}), quiet_success);
    EXPECT_EQ(run("list"),
              (run_result{0, "user\talice\nopubot\tbob the builder\nadmin\t\"q\" 'z' %s\n", ""}));
}

TEST_F(ListTest, ManyRowsAreAllPrinted) {
    create_table();
    {
        sqlite_db seed(db);
        seed.exec(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
            "INSERT INTO users (nickname, password) SELECT 'user' || i, 'pw' FROM n;");
    }
    std::string expected;
    for (int i = 1; i <= 20000; ++i) expected += "user\tuser" + std::to_string(i) + "\n";
    EXPECT_EQ(run("list"), (run_result{0, expected, ""}));
}

// The class and the nickname are the columns of those names, whatever the
// table's shape: no other column (a password) is ever printed.
TEST_F(ListTest, TablesOfAnotherShapeListTheirColumnsByName) {
    const std::pair<std::string, run_result> shapes[] = {
        {"CREATE TABLE users(nickname, password, credentials);"
         "INSERT INTO users VALUES('alice', 'x', NULL), (NULL, 'y', 'op');",
         {0, "\talice\nop\t\n", ""}},
        {"CREATE TABLE users(nickname UNIQUE, credentials, password);"
         "INSERT INTO users VALUES('alice', 'admin', 'secret-a');",
         {0, "admin\talice\n", ""}},
        // Every value whole, a NUL inside too.
        {"CREATE TABLE users(id INTEGER PRIMARY KEY, password, nickname, credentials);"
         "INSERT INTO users VALUES(7, 'secret-b', CAST(X'620062' AS TEXT), 'op');",
         {0, std::string("op\tb\0b\n", 7), ""}},
        {"CREATE TABLE users(nickname, password); INSERT INTO users VALUES('a', 'b');",
         failure("")},
    };
    for (std::size_t i = 0; i < std::size(shapes); ++i) {
        const std::string file = dir.file(std::to_string(i) + ".db");
        sqlite_db(file).exec(shapes[i].first);
        EXPECT_EQ(userdb({file, "list"}), shapes[i].second) << shapes[i].first;
    }
}

}  // namespace
}  // namespace corvane::test
