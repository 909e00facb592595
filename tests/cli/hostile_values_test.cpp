// Values built to break out of their quotes, stack a second statement,
// widen a WHERE clause or act as printf directives. Each must be stored and
// matched exactly as typed, and a command must touch its own row only
// (the passwords: cases/hostile_values.cases).
#include "cli/userdb.hpp"

namespace corvane::test {
namespace {

class HostileValueTest : public UserDbTest {
protected:
    // del, mod and pass of `nickname`, which no account has: each fails with
    // its own message alone, showing the nickname as typed.
    void expect_no_account_named(const std::string& nickname) {
        EXPECT_EQ(run("del", {nickname}), failure(refusal("del", nickname)));
        EXPECT_EQ(run("mod", {nickname, "admin"}), failure(refusal("mod", nickname)));
        EXPECT_EQ(run("pass", {nickname, "owned"}), failure(refusal("pass", nickname)));
    }
};

const accounts bystanders = {
    {"alice", "a-pass", "admin"}, {"bob", "b-pass", "op"}, {"carol", "c-pass", "user"}};

// Schema objects besides the users table and its UNIQUE index betray a
// statement that ran although nobody asked for it.
std::vector<row> schema_objects(const std::string& db) {
    sqlite_db check(db);
    return check.query("SELECT type, name FROM sqlite_master ORDER BY name");
}
const std::vector<row> intact_schema = {{"index", "sqlite_autoindex_users_1"}, {"table", "users"}};

// Nicknames no account has, each an attempt to reach other rows or a name
// add would refuse: none may match, and each failure message shows the
// nickname as typed.
TEST_F(HostileValueTest, NicknamesThatMatchNoAccountReachNoOtherRow) {
    create_table();
    for (const auto& a : bystanders) ASSERT_EQ(run("add", {a[0], a[1], a[2]}), quiet_success);

    const std::string nicknames[] = {
        "nobody",
        "ALICE",
        " alice",
        repeat("x", 200),
        "\xFF\x01\t",
        "' OR '1'='1",
        "' OR ''='",
        "alice' --",
        "alice'; DELETE FROM users; --",
        "x'; UPDATE users SET credentials = 'admin'; --",
        "x' OR nickname LIKE '%",
        "x' OR nickname GLOB '*",
        "\\' OR 1=1 --",
        "alice\\",
        "alice\\'",
        "\"alice\"",
        "alice\" OR \"1\"=\"1",
        "alice /*",
        "%",
        "%n%n%n%n%s%s%s",
        "%1$s%99$s",
        "alice\xEF\xBC\x87 OR 1=1",  // a full-width apostrophe is no quote
        "\xEF\xBC\x87 OR \xEF\xBC\x87\x31\xEF\xBC\x87=\xEF\xBC\x87\x31",
    };
    for (const std::string& name : nicknames) expect_no_account_named(name);
    EXPECT_EQ(read_accounts(db), bystanders);
    EXPECT_EQ(schema_objects(db), intact_schema);
}

// Stored hostile nicknames, each with values of its own: every command must
// change exactly the row it names, which storing the same values everywhere
// could not show.
TEST_F(HostileValueTest, EachStoredHostileNicknameIsChangedAlone) {
    create_table();
    const std::string four_byte = "\xF0\x9F\x90\xA6";  // U+1F426
    const std::vector<std::string> nicknames = {
        "it's",
        "'",
        "''",
        repeat("'", 64),  // 128 bytes once doubled
        "' OR '1'='1",
        "' OR 'a'='a' --",
        "'); CREATE TABLE pwned(x); --",
        "'; DELETE FROM users; --",
        "\\",
        "\\'",
        "a\\'b\\\\'c",
        "say \"hi\"",
        "%s%n%s%n",
        repeat(four_byte, 16),                // 64 bytes, 16 characters
        "''" + repeat(four_byte, 15) + "''",  // 64 bytes with quotes at both ends
        "caf\xC3\xA9",                        // precomposed e-acute ...
        "cafe\xCC\x81",                       // ... and e plus a combining accent: two accounts
        "\xEF\xBC\x87 OR 1=1",
    };
    accounts expected;
    for (std::size_t i = 0; i < nicknames.size(); ++i) {
        const std::string password = "p" + std::to_string(i) + "'\"\\%";
        ASSERT_EQ(run("add", {nicknames[i], password, class_words[i % 8]}), quiet_success)
            << nicknames[i];
        expected.push_back({nicknames[i], password, class_words[i % 8]});
    }
    ASSERT_EQ(read_accounts(db), expected);

    for (std::size_t i = 0; i < nicknames.size(); ++i) {
        const std::string& name = nicknames[i];
        const std::string word = class_words[(i + 3) % 8];
        EXPECT_EQ(run("mod", {name, word}), quiet_success) << name;
        expected[i][2] = word;
        const std::string password = "n" + std::to_string(i) + "'\\\"%s";
        EXPECT_EQ(run("pass", {name, password}), quiet_success) << name;
        expected[i][1] = password;
        EXPECT_EQ(read_accounts(db), expected) << name;
    }
    // Always the middle row, so that a stray change to a neighbour on either
    // side would show.
    while (!expected.empty()) {
        const auto middle = expected.begin() + static_cast<std::ptrdiff_t>(expected.size() / 2);
        const std::string name = (*middle)[0];
        EXPECT_EQ(run("del", {name}), quiet_success) << name;
        expected.erase(middle);
        ASSERT_EQ(read_accounts(db), expected) << name;
    }
    EXPECT_EQ(schema_objects(db), intact_schema);
    EXPECT_EQ(integrity_check(db), "ok");
}

}  // namespace
}  // namespace corvane::test
