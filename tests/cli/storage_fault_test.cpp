// The tool on storage that refuses writes: a full file system, a read-only
// file system, a read-only file and a read-only directory. Each change must
// fail with the database's own words, exit with status 1 and leave every
// stored account as it was.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cli/userdb.hpp"

namespace corvane::test {
namespace {

uid_t file_owner(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_uid : static_cast<uid_t>(-1);
}

constexpr std::size_t page = 4096;

// A small tmpfs mounted on a new directory for one test, unmounted when the
// object goes, however the test ended. Needs root and a kernel that lets this
// process mount; `why_not` says why it could not be had.
class tmpfs_mount {
public:
    tmpfs_mount(const std::string& path, const std::string& options) : path_(path) {
        if (geteuid() != 0) {
            why_not = "mounting a tmpfs needs root";
            return;
        }
        if (mkdir(path.c_str(), 0700) != 0 ||
            mount("tmpfs", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
            why_not = std::string("mount -t tmpfs failed: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
    }
    ~tmpfs_mount() {
        if (mounted_ && umount(path_.c_str()) != 0) umount2(path_.c_str(), MNT_DETACH);
    }
    tmpfs_mount(const tmpfs_mount&) = delete;
    tmpfs_mount& operator=(const tmpfs_mount&) = delete;

    [[nodiscard]] bool mounted() const { return mounted_; }
    [[nodiscard]] std::string file(const std::string& name) const { return path_ + "/" + name; }

    void remount_read_only() {
        if (mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                  nullptr) != 0) {
            throw std::system_error(errno, std::generic_category(), "remount read-only");
        }
    }

    std::string why_not;

private:
    std::string path_;
    bool mounted_ = false;
};

// Writes to `path` until the file system has no page left, then gives back
// `spare_pages` of them.
void fill_leaving(const std::string& path, std::size_t spare_pages) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    const std::string block(page, 'f');
    off_t size = 0;
    for (ssize_t wrote = 0; (wrote = write(fd, block.data(), block.size())) > 0;) size += wrote;
    EXPECT_EQ(errno, ENOSPC);
    const off_t spare = static_cast<off_t>(spare_pages * page);
    ASSERT_GE(size, spare);
    EXPECT_EQ(ftruncate(fd, size - spare), 0);
    close(fd);
}

const std::string full = "ERROR: database or disk is full\n";
const std::string read_only = "ERROR: attempt to write a readonly database\n";

const accounts alice_and_bob = {{"alice", "a-pass", "admin"}, {"bob", "b-pass", "user"}};

void add_alice_and_bob(const std::string& db, const run_options& options = {}) {
    ASSERT_EQ(userdb({db, "create"}, options), quiet_success);
    ASSERT_EQ(userdb({db, "add", "alice", "a-pass", "admin"}, options), quiet_success);
    ASSERT_EQ(userdb({db, "add", "bob", "b-pass"}, options), quiet_success);
}

// Every change fails with `error` and the failure message; the accounts and
// the listing stay as they were.
void expect_every_change_refused(const std::string& db, const std::string& error,
                                 const run_options& options = {}) {
    for (const command_row& entry : every_command()) {
        if (!entry.changes) continue;
        // A command that reads its accounts from standard input names the
        // line that met the error.
        const std::string said = (entry.input.empty() ? "" : "line 1: ") + error + refusal(entry);
        EXPECT_EQ(run_row(db, entry, options), failure(said)) << entry.args[0];
    }
    EXPECT_EQ(userdb({db, "list"}, options), (run_result{0, "admin\talice\nuser\tbob\n", ""}));
    EXPECT_EQ(read_accounts(db), alice_and_bob);
    EXPECT_EQ(integrity_check(db), "ok");
}

using FullDiskTest = UserDbTest;

TEST_F(FullDiskTest, AChangeThatFindsNoSpaceFailsAndLosesNothing) {
    tmpfs_mount disk(dir.file("disk"), "size=512k,mode=0700");
    if (!disk.mounted()) GTEST_SKIP() << disk.why_not;
    const std::string on_disk = disk.file("users.db");
    add_alice_and_bob(on_disk);

    fill_leaving(disk.file("filler"), 0);
    expect_every_change_refused(on_disk, full);
    // A table that could not be written is a failure, not a success.
    EXPECT_EQ(userdb({disk.file("fresh.db"), "create"}), failure(full));

    // With room for the journal but little more, adds go on until one
    // fails, and that one must say so; every add that succeeded stays.
    accounts expected = alice_and_bob;
    int added = 0;
    for (const std::size_t spare : {1u, 3u, 4u}) {
        fill_leaving(disk.file("filler"), spare);
        bool refused = false;
        const std::size_t before = expected.size() - 1;
        for (int i = 0; i < 200 && !refused; ++i, ++added) {
            const std::string name = "n" + std::to_string(added);
            const std::string password = name + std::string(60, '\'');
            const run_result result = userdb({on_disk, "add", name, password, "op"});
            if (result == quiet_success) {
                expected.push_back({name, password, "op"});
            } else {
                EXPECT_EQ(result, failure(full + refusal("add", name))) << spare << " spare pages";
                refused = true;
            }
        }
        EXPECT_TRUE(refused) << spare << " spare pages";
        std::printf("%zu spare pages: %zu adds, the last refused\n", spare,
                    expected.size() - before);
        EXPECT_EQ(read_accounts(on_disk), expected) << spare << " spare pages";
        EXPECT_EQ(integrity_check(on_disk), "ok") << spare << " spare pages";
    }

    ASSERT_EQ(unlink(disk.file("filler").c_str()), 0);
    EXPECT_EQ(userdb({on_disk, "add", "carol", "c-pass"}), quiet_success);
    expected.push_back({"carol", "c-pass", "user"});
    EXPECT_EQ(read_accounts(on_disk), expected);
}

// SQLite may roll a whole transaction back on a full disk; an import must
// then stop, not go on adding lines one commit at a time.
TEST_F(FullDiskTest, AnImportThatFindsNoSpaceAddsNothing) {
    tmpfs_mount disk(dir.file("disk"), "size=8m,mode=0700");
    if (!disk.mounted()) GTEST_SKIP() << disk.why_not;
    const std::string on_disk = disk.file("users.db");
    add_alice_and_bob(on_disk);
    // The names imported second fall between those imported first, so the
    // import changes pages that exist, and their originals go to the journal
    // as it runs: space runs out in the middle of a batch, and nothing can
    // tell which of its lines met it.
    auto accounts_of = [](const std::string& suffix) {
        run_options with_input;
        with_input.stdin_text.emplace();
        for (int i = 0; i < 20'000; ++i) {
            *with_input.stdin_text +=
                "n" + std::to_string(i) + suffix + "\t" + repeat("p", 60) + "\n";
        }
        return with_input;
    };
    ASSERT_EQ(userdb({on_disk, "import"}, accounts_of("")), quiet_success);
    const accounts before = read_accounts(on_disk);
    fill_leaving(disk.file("filler"), 16);

    EXPECT_EQ(userdb({on_disk, "import"}, accounts_of("x")),
              failure("ERROR: database or disk is full (import abandoned)\n"));
    EXPECT_EQ(read_accounts(on_disk), before);
    EXPECT_EQ(integrity_check(on_disk), "ok");
}

using ReadOnlyTest = UserDbTest;

TEST_F(ReadOnlyTest, OnAReadOnlyFileSystemEveryChangeFailsAndListingWorks) {
    tmpfs_mount disk(dir.file("disk"), "size=256k,mode=0700");
    if (!disk.mounted()) GTEST_SKIP() << disk.why_not;
    const std::string on_disk = disk.file("users.db");
    add_alice_and_bob(on_disk);
    disk.remount_read_only();

    expect_every_change_refused(on_disk, read_only);
    EXPECT_EQ(userdb({on_disk, "create"}),
              (run_result{0, "", "ERROR: table users already exists\n"}));
    const std::string absent = disk.file("new.db");
    EXPECT_EQ(userdb({absent, "create"}),
              failure("Unable to open database: " + absent + " (result=14)\n"));
    EXPECT_FALSE(file_exists(absent));
}

// Permissions bind root only through a mount, so as root these run as the
// user nobody in a directory that nobody owns; as anyone else, as that user.
class PermissionTest : public UserDbTest {
protected:
    void SetUp() override {
        if (geteuid() == 0) {
            const passwd* user = getpwnam("nobody");
            const uid_t uid = user != nullptr ? user->pw_uid : 65534;
            const gid_t gid = user != nullptr ? user->pw_gid : 65534;
            as_user.uid = uid;
            as_user.gid = gid;
            // nobody needs to reach the directory and run its own copy of the tool.
            ASSERT_EQ(chmod(dir.path().c_str(), 0711), 0);
            std::filesystem::copy_file(CORVANE_USERDB_PATH, tool);
            ASSERT_EQ(chmod(tool.c_str(), 0755), 0);
            ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
            ASSERT_EQ(chown(home.c_str(), uid, gid), 0);
        } else {
            tool = CORVANE_USERDB_PATH;
            ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
        }
    }

    run_result run_as_user(std::vector<std::string> args) {
        return run_program(tool, args, as_user);
    }

    run_options as_user;
    std::string tool = dir.file("corvane-userdb");
    std::string home = dir.file("home");
    std::string users = home + "/users.db";
};

TEST_F(PermissionTest, AReadOnlyFileRefusesEveryChange) {
    add_alice_and_bob(users, as_user);
    if (as_user.uid.has_value()) {
        ASSERT_EQ(file_owner(users), *as_user.uid);  // the tool did run as nobody
    }
    ASSERT_EQ(chmod(users.c_str(), 0444), 0);
    expect_every_change_refused(users, read_only, as_user);
    EXPECT_EQ(file_mode(users), 0444u);

    const std::string empty = home + "/empty.db";
    write_file(empty, "");
    if (as_user.uid.has_value()) {
        ASSERT_EQ(chown(empty.c_str(), *as_user.uid, *as_user.gid), 0);
    }
    ASSERT_EQ(chmod(empty.c_str(), 0444), 0);
    EXPECT_EQ(run_as_user({empty, "create"}), failure(read_only));
}

TEST_F(PermissionTest, AReadOnlyDirectoryRefusesEveryChangeAndNewFiles) {
    add_alice_and_bob(users, as_user);
    ASSERT_EQ(chmod(home.c_str(), 0500), 0);
    // The journal that makes a change atomic cannot be created beside the
    // file, so the database counts as read-only.
    expect_every_change_refused(users, read_only, as_user);
    const std::string absent = home + "/new.db";
    EXPECT_EQ(run_as_user({absent, "create"}),
              failure("Unable to open database: " + absent + " (result=14)\n"));
    EXPECT_FALSE(file_exists(absent));
}

}  // namespace
}  // namespace corvane::test
