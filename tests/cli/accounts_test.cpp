#include "cli/userdb.hpp"

namespace corvane::test {
namespace {

using AddTest = UserDbTest;
using FieldCheckTest = UserDbTest;
using ChangeTest = UserDbTest;
using StatementLimitTest = UserDbTest;

TEST_F(AddTest, StoresTheAccountWithTheGivenOrDefaultClass) {
    create_table();
    EXPECT_EQ(run("add", {"alice", "secret"}), quiet_success);
    EXPECT_EQ(run("add", {"bob", "hunter2", "op"}), quiet_success);
    accounts expected = {{"alice", "secret", "user"}, {"bob", "hunter2", "op"}};
    for (const std::string word : class_words) {
        EXPECT_EQ(run("add", {"n-" + word, "p", word}), quiet_success) << word;
        expected.push_back({"n-" + word, "p", word});
    }
    EXPECT_EQ(read_accounts(db), expected);

    sqlite_db check(db);
    const auto stamps = check.query("SELECT created, activity FROM users WHERE nickname = 'alice'");
    EXPECT_TRUE(stamps[0][0].has_value() && stamps[0][1].has_value());
}

TEST_F(AddTest, ADuplicateNicknameFailsAndKeepsTheFirstAccount) {
    create_table();
    ASSERT_EQ(run("add", {"alice", "secret", "admin"}), quiet_success);
    EXPECT_EQ(
        run("add", {"alice", "other"}),
        failure("ERROR: UNIQUE constraint failed: users.nickname\n" + refusal("add", "alice")));
    EXPECT_EQ(run("add", {"Alice", "other"}), quiet_success);  // case matters
    EXPECT_EQ(read_accounts(db),
              (accounts{{"alice", "secret", "admin"}, {"Alice", "other", "user"}}));
}

TEST_F(AddTest, EmptyNicknameAndPasswordAreStored) {
    create_table();
    EXPECT_EQ(run("add", {"", ""}), quiet_success);
    EXPECT_EQ(read_accounts(db), (accounts{{"", "", "user"}}));
}

// Each case is refused before the database is opened: the file is never created.
TEST_F(FieldCheckTest, RefusedFieldsEndTheRunWithTheirMessage) {
    struct Case {
        std::string note;
        std::vector<std::string> args;  // command and its arguments
        std::string err;
    };
    const std::string name65 = repeat("n", 65);
    const Case cases[] = {
        {"65-byte nickname", {"add", name65, "p"}, name_too_long},
        {"33 two-byte characters", {"add", repeat("\xC3\xA9", 33), "p"}, name_too_long},
        {"too long wins over blank",
         {"add", std::string(" ").append(repeat("n", 64)), "p"},
         name_too_long},
        {"too long wins over control",
         {"add", std::string("\x01").append(repeat("n", 64)), "p"},
         name_too_long},
        {"leading tab", {"add", "\tx", "p"}, name_starts_blank},
        {"leading CR", {"add", "\rx", "p"}, name_starts_blank},
        {"leading space", {"add", " x", "p"}, name_starts_blank},
        {"leading LF", {"add", "\nx", "p"}, name_illegal},
        {"leading VT", {"add", "\vx", "p"}, name_illegal},
        {"inner tab", {"add", "a\tb", "p"}, name_illegal},
        {"control and bad UTF-8", {"add", "a\x1F\xFF", "p"}, name_illegal},
        {"first byte 0xA0", {"add", "\xA0x", "p"}, name_not_utf8},
        {"overlong nickname", {"add", "\xC0\x80", "p"}, name_not_utf8},
        {"cut-short nickname", {"add", "ab\xE2\x82", "p"}, name_not_utf8},
        {"65-byte password", {"add", "alice", repeat("p", 65)}, password_too_long},
        {"65-byte bad password", {"add", "alice", repeat("\xFF", 65)}, password_too_long},
        {"bad UTF-8 password", {"add", "alice", "\xED\xA0\x80"}, password_not_utf8},
        {"class in capitals", {"add", "alice", "p", "OP"}, credentials_fault},
        {"class with a blank", {"add", "alice", "p", " op"}, credentials_fault},
        {"class with a trailing blank", {"add", "alice", "p", "op "}, credentials_fault},
        {"empty class", {"add", "alice", "p", ""}, credentials_fault},
        {"class prefix", {"add", "alice", "p", "opu"}, credentials_fault},
        {"nickname checked first", {"add", "\tx", "\xFF", "nope"}, name_starts_blank},
        {"password before class", {"add", "alice", "\xFF", "nope"}, password_not_utf8},
        {"mod with unknown class", {"mod", "alice", "root"}, credentials_fault},
        {"pass with long password", {"pass", "alice", repeat("p", 65)}, password_too_long},
        {"pass with bad password", {"pass", "alice", "\xC1\xBF"}, password_not_utf8},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.args[0], {c.args.begin() + 1, c.args.end()}), failure(c.err)) << c.note;
        EXPECT_FALSE(file_exists(db)) << c.note;
    }
}

TEST_F(FieldCheckTest, AcceptedFieldsAtTheEdgesAreStoredExactly) {
    create_table();
    const std::vector<std::vector<std::string>> fields = {
        {repeat("n", 64), repeat("p", 64)},
        {repeat("\xC3\xA9", 32), repeat("\xE2\x82\xAC", 21) + "x"},
        {"trailing space ", " \tpass\nword"},
        {"inner space", ""},
        {"del\x7F", "p"},
        {"c1\xC2\x85", "p"},
        {"\xF0\x9F\x90\xA6 bird", "\xF4\x8F\xBF\xBF"},
    };
    accounts expected;
    for (const auto& f : fields) {
        EXPECT_EQ(run("add", {f[0], f[1]}), quiet_success) << f[0];
        expected.push_back({f[0], f[1], "user"});
    }
    EXPECT_EQ(read_accounts(db), expected);
}

TEST_F(ChangeTest, ModPassAndDelChangeExactlyTheirAccount) {
    create_table();
    ASSERT_EQ(run("add", {"alice", "a-pass"}), quiet_success);
    ASSERT_EQ(run("add", {"bob", "b-pass", "op"}), quiet_success);
    EXPECT_EQ(run("mod", {"alice", "admin"}), quiet_success);
    EXPECT_EQ(run("mod", {"alice", "admin"}), quiet_success);  // same class still counts one row
    EXPECT_EQ(run("pass", {"bob", ""}), quiet_success);
    EXPECT_EQ(read_accounts(db), (accounts{{"alice", "a-pass", "admin"}, {"bob", "", "op"}}));
    EXPECT_EQ(run("del", {"alice"}), quiet_success);
    EXPECT_EQ(read_accounts(db), (accounts{{"bob", "", "op"}}));
}

// A statement holds at most 1023 bytes. One that would not fit is refused
// whole before the database is opened; text cut short never runs.
TEST_F(StatementLimitTest, TheLongestStatementRunsAndOneByteMoreIsRefused) {
    create_table();
    // "DELETE FROM users WHERE nickname = '';" is 38 bytes.
    const std::string fits = repeat("d", 985);
    {
        sqlite_db seed(db);
        seed.exec("INSERT INTO users (nickname, password) VALUES('" + fits + "', 'x')");
    }
    EXPECT_EQ(run("del", {fits}), quiet_success);

    const std::string missing = dir.file("missing.db");
    const std::string one_more = repeat("d", 986);
    const std::string too_long = "ERROR: statement too long\n";
    EXPECT_EQ(userdb({missing, "del", one_more}), failure(too_long + refusal("del", one_more)));
    // 493 quotes double to 986 bytes.
    const std::string quotes = repeat("'", 493);
    EXPECT_EQ(userdb({missing, "del", quotes}), failure(too_long + refusal("del", quotes)));
    const std::string long_name = repeat("m", 1000);
    EXPECT_EQ(userdb({missing, "mod", long_name, "op"}),
              failure(too_long + refusal("mod", long_name)));
    EXPECT_EQ(userdb({missing, "pass", long_name, "p"}),
              failure(too_long + refusal("pass", long_name)));
    EXPECT_FALSE(file_exists(missing));
}

TEST_F(StatementLimitTest, ALongNicknameThatFitsIsStillMatched) {
    create_table();
    // "UPDATE users SET credentials = '' WHERE nickname = '';" is 54 bytes
    // with an empty class; "op" makes 56, leaving 967 for the nickname.
    const std::string name = repeat("m", 967);
    {
        sqlite_db seed(db);
        seed.exec("INSERT INTO users (nickname, password) VALUES('" + name + "', 'x')");
    }
    EXPECT_EQ(run("mod", {name, "op"}), quiet_success);
    EXPECT_EQ(run("pass", {name, "new"}), quiet_success);
    EXPECT_EQ(read_accounts(db), (accounts{{name, "new", "op"}}));
}

}  // namespace
}  // namespace corvane::test
