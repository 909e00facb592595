#include <corvane/log.hpp>

#include <gtest/gtest.h>

#include "support/stderr_capture.hpp"
#include "support/temp_dir.hpp"
#include "support/time_zone.hpp"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace corvane;
namespace fs = std::filesystem;

using corvane::test::read_file;
using corvane::test::stderr_capture;
using corvane::test::time_zone;
using corvane::test::write_file;

// The lines of text, each with its line feed (the last one may lack it).
std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0, end = 0; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size() - 1);
        lines.push_back(text.substr(start, end - start + 1));
    }
    return lines;
}

// A log line is "YYYY-MM-DD HH:MM:SS NAME: message\n" with the name right-
// aligned in six columns. The stamp varies, so only its shape is checked.
void expect_line(const std::string& line, const std::string& field, const std::string& message) {
    static const std::regex stamp(
        "[0-9]{4}-[0-1][0-9]-[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9]");
    ASSERT_GE(line.size(), 19u) << line;
    EXPECT_TRUE(std::regex_match(line.substr(0, 19), stamp)) << line;
    EXPECT_EQ(line.substr(19), " " + field + ": " + message + "\n");
}

// The level names as they stand in a line.
constexpr const char* fields[] = {" FATAL", " ERROR", "  WARN", "  USER", "  INFO", " DEBUG",
                                  " TRACE", "  DUMP", "   MEM", " PROTO", "PLUGIN"};

// The lowest file descriptor not in use.
int lowest_free_fd() {
    const int fd = dup(STDIN_FILENO);
    close(fd);
    return fd;
}

// Log state is process-wide: every case starts from the initial state.
class Log : public ::testing::Test {
protected:
    void SetUp() override {
        log_close();
        log_set_verbosity(4);
    }
    void TearDown() override {
        log_close();
        log_set_verbosity(4);
    }
    corvane::test::temp_dir scratch_;
    fs::path dir_{scratch_.path()};
};

// Each level in turn, then levels outside the table, which write nothing.
TEST_F(Log, VerbosityLetsThroughTheLevelsBelowIt) {
    struct {
        int verbosity;
        std::size_t lines;
    } const cases[] = {{-3, 0}, {0, 0}, {1, 1},   {2, 2},   {3, 3},    {4, 4},
                       {5, 5},  {6, 6}, {10, 10}, {11, 11}, {1000, 11}};
    for (const auto& row : cases) {
        SCOPED_TRACE("verbosity " + std::to_string(row.verbosity));
        const fs::path file = dir_ / ("v" + std::to_string(row.verbosity) + ".log");
        log_open(file.c_str(), false);
        log_set_verbosity(row.verbosity);
        for (int level = LVL_FATAL; level <= LVL_PLUGIN; ++level)
            log_write(static_cast<log_level>(level), "level %d", level);
        for (const int level : {-1, 11, 500}) log_write(static_cast<log_level>(level), "outside");
        const auto lines = lines_of(read_file(file));
        ASSERT_EQ(lines.size(), row.lines);
        for (std::size_t level = 0; level < lines.size(); ++level)
            expect_line(lines[level], fields[level], "level " + std::to_string(level));
    }
}

TEST_F(Log, MessagesAreFormattedAndCutAt1023Bytes) {
    const fs::path file = dir_ / "cut.log";
    log_open(file.c_str(), false);
    log_write(LVL_ERROR, "%s|%d|%%|%5.2f", "50%", -3, 2.5);
    struct {
        std::size_t length;
        std::size_t kept;
    } const cases[] = {{0, 0}, {1022, 1022}, {1023, 1023}, {1024, 1023}, {5000, 1023}};
    for (const auto& row : cases) log_write(LVL_ERROR, "%s", std::string(row.length, 'x').c_str());

    const auto lines = lines_of(read_file(file));
    ASSERT_EQ(lines.size(), 1 + std::size(cases));
    expect_line(lines[0], " ERROR", "50%|-3|%| 2.50");
    for (std::size_t at = 0; at < std::size(cases); ++at)
        expect_line(lines[at + 1], " ERROR", std::string(cases[at].kept, 'x'));
}

TEST_F(Log, OpenSetsTheCLocale) {
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr)
        GTEST_SKIP() << "no C.UTF-8 locale to start from";
    log_open(nullptr, false);
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
}

// Where lines go after a sequence of opens, closes and writes: standard
// error, the first or the second log file. Each file starts with a line of
// its own that must stay in front (files are appended to) and is read while
// the log may still hold it open (each line is flushed at once). At the end
// exactly the log files still in use are open.
TEST_F(Log, LinesGoToTheFileOpenedLastOrElseToStderr) {
    // OPEN takes a file name in the case's directory, or null for no path;
    // WRITE writes its text at level WARN.
    enum action { OPEN, CLOSE, WRITE };
    struct step {
        action what;
        const char* text = nullptr;
    };
    constexpr const char* FIRST = "first.log";
    constexpr const char* SECOND = "second.log";
    constexpr const char* UNOPENABLE = "no-such-dir/x.log";
    using messages = std::vector<std::string>;
    struct {
        const char* what;
        std::vector<step> steps;
        messages on_stderr, in_first, in_second;
        int files_open;  // log files the log still holds open at the end
    } const cases[] = {
        // clang-format off
        {"before any open", {{WRITE, "boom"}}, {"boom"}, {}, {}, 0},
        {"open without a path, then close",
         {{OPEN}, {WRITE, "one"}, {CLOSE}, {WRITE, "two"}}, {"one", "two"}, {}, {}, 0},
        {"a file that cannot be opened: stderr, silently",
         {{OPEN, UNOPENABLE}, {WRITE, "fallback"}}, {"fallback"}, {}, {}, 0},
        {"a file", {{OPEN, FIRST}, {WRITE, "one"}, {WRITE, "two"}}, {}, {"one", "two"}, {}, 1},
        {"close sends later lines to stderr",
         {{OPEN, FIRST}, {WRITE, "one"}, {CLOSE}, {WRITE, "two"}}, {"two"}, {"one"}, {}, 0},
        {"a second open closes the first file",
         {{OPEN, FIRST}, {WRITE, "one"}, {OPEN, SECOND}, {WRITE, "two"}}, {}, {"one"}, {"two"}, 1},
        {"open without a path closes the file",
         {{OPEN, FIRST}, {WRITE, "one"}, {OPEN}, {WRITE, "two"}}, {"two"}, {"one"}, {}, 0},
        // clang-format on
    };
    const std::string earlier = "earlier contents\n";
    int number = 0;
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        const fs::path dir = dir_ / std::to_string(++number);
        fs::create_directory(dir);
        const fs::path first = dir / FIRST;
        const fs::path second = dir / SECOND;
        const fs::path unopenable = dir / UNOPENABLE;
        write_file(first, earlier);
        write_file(second, earlier);

        stderr_capture err(dir / "stderr");
        const int free_before = lowest_free_fd();
        for (const step& s : row.steps) {
            if (s.what == OPEN) {
                log_open(s.text != nullptr ? (dir / s.text).c_str() : nullptr, false);
            } else if (s.what == CLOSE) {
                log_close();
            } else {
                log_write(LVL_WARN, "%s", s.text);
            }
        }
        EXPECT_EQ(lowest_free_fd(), free_before + row.files_open) << "log files left open";

        const auto expect_lines = [](const std::string& text, const messages& expected) {
            const auto lines = lines_of(text);
            ASSERT_EQ(lines.size(), expected.size()) << text;
            for (std::size_t at = 0; at < lines.size(); ++at)
                expect_line(lines[at], "  WARN", expected[at]);
        };
        const auto expect_file = [&](const fs::path& file, const messages& expected) {
            SCOPED_TRACE(file.filename().string());
            const std::string text = read_file(file);
            ASSERT_EQ(text.substr(0, earlier.size()), earlier) << "not appended to";
            expect_lines(text.substr(earlier.size()), expected);
        };
        expect_file(first, row.in_first);
        expect_file(second, row.in_second);
        log_close();
        SCOPED_TRACE("standard error");
        expect_lines(err.text(), row.on_stderr);
        EXPECT_FALSE(fs::exists(unopenable));
    }
}

// localtime_r need not look at TZ again; the stamp follows a change made
// while the process runs, as localtime does.
TEST_F(Log, StampFollowsAChangeOfTimeZone) {
    const fs::path file = dir_ / "tz.log";
    log_open(file.c_str(), false);
    {
        const time_zone zone;
        time_zone::set("UTC0");
        log_write(LVL_WARN, "utc");
        time_zone::set("EAST-14");  // 14 hours ahead of UTC
        log_write(LVL_WARN, "east");
    }

    // Each stamp read as if it were UTC, in seconds since the epoch.
    const auto seconds_of = [](const std::string& line) {
        std::tm stamp{};
        std::istringstream in(line.substr(0, 19));
        in >> std::get_time(&stamp, "%Y-%m-%d %H:%M:%S");
        EXPECT_FALSE(in.fail()) << line;
        return static_cast<long>(timegm(&stamp));
    };
    const auto lines = lines_of(read_file(file));
    ASSERT_EQ(lines.size(), 2u);
    const long apart = seconds_of(lines[1]) - seconds_of(lines[0]);
    EXPECT_GE(apart, 14 * 3600);
    EXPECT_LE(apart, 14 * 3600 + 2) << "the two lines were written a moment apart";
}

// What reaches the system log, on the wire: a datagram socket bound at
// /dev/log stands in for the system logger. Only where no logger owns
// /dev/log and we may create it (root). One test case, so that no two test
// processes compete for the socket.
class fake_syslog {
public:
    fake_syslog() {
        struct stat existing {};
        if (geteuid() != 0) {
            reason_ = "binding /dev/log needs root";
        } else if (lstat(path, &existing) == 0 || errno != ENOENT) {
            reason_ = "/dev/log exists: a system logger owns it";
        } else {
            fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strcpy(address.sun_path, path);
            bound_ =
                fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            if (!bound_) reason_ = std::string("cannot bind /dev/log: ") + std::strerror(errno);
            timeval timeout{2, 0};
            setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        }
    }
    fake_syslog(const fake_syslog&) = delete;
    fake_syslog& operator=(const fake_syslog&) = delete;
    ~fake_syslog() {
        if (bound_) unlink(path);
        if (fd_ >= 0) close(fd_);
    }

    const std::string& unavailable() const { return reason_; }

    // Checks that the next datagram, within two seconds, is
    // "<priority>STAMP corvane[PID]: text".
    void expect_next(int priority, const std::string& text) {
        std::vector<char> buffer(8192);
        const ssize_t got = recv(fd_, buffer.data(), buffer.size(), 0);
        ASSERT_GE(got, 0) << "nothing reached the system log";
        const std::string message(buffer.data(), static_cast<std::size_t>(got));
        const std::string prefix = "<" + std::to_string(priority) + ">";
        EXPECT_EQ(message.substr(0, prefix.size()), prefix) << message;
        const std::string ident = " corvane[" + std::to_string(getpid()) + "]: ";
        const std::size_t at = message.find(ident);
        ASSERT_NE(at, std::string::npos) << message;
        EXPECT_EQ(message.substr(at + ident.size()), text);
    }

private:
    static constexpr const char* path = "/dev/log";
    int fd_ = -1;
    bool bound_ = false;
    std::string reason_;
};

TEST_F(Log, SystemLogReceivesTheForwardedLevels) {
    fake_syslog syslog_socket;
    if (!syslog_socket.unavailable().empty()) GTEST_SKIP() << syslog_socket.unavailable();
    log_open(nullptr, true);

    {
        SCOPED_TRACE("FATAL to DEBUG carry their priorities; lines only below verbosity 4");
        constexpr int priorities[] = {26, 27, 28, 62, 30, 31};
        stderr_capture err(dir_ / "stderr");
        for (int level = LVL_FATAL; level <= LVL_DEBUG; ++level) {
            log_write(static_cast<log_level>(level), "level %d", level);
            syslog_socket.expect_next(priorities[level], "level " + std::to_string(level));
        }
        EXPECT_EQ(lines_of(err.text()).size(), 4u);
    }
    {
        SCOPED_TRACE("TRACE and above, and levels outside the table, are not forwarded");
        log_set_verbosity(100);
        stderr_capture err(dir_ / "stderr");
        for (int level = LVL_TRACE; level <= LVL_PLUGIN; ++level)
            log_write(static_cast<log_level>(level), "no");
        log_write(static_cast<log_level>(-1), "no");
        log_write(static_cast<log_level>(11), "no");
        log_write(LVL_INFO, "marker 1");
        syslog_socket.expect_next(30, "marker 1");
        EXPECT_EQ(lines_of(err.text()).size(), 6u) << "TRACE to PLUGIN and the marker as lines";
    }
    log_set_verbosity(4);
    {
        SCOPED_TRACE("the text is sent as it stands, cut like the line");
        stderr_capture err(dir_ / "stderr");
        log_write(LVL_USER, "%s", "100% %s %d %n");
        syslog_socket.expect_next(62, "100% %s %d %n");
        log_write(LVL_WARN, "%s", std::string(3000, 'y').c_str());
        syslog_socket.expect_next(28, std::string(1023, 'y'));
        const auto lines = lines_of(err.text());
        ASSERT_EQ(lines.size(), 2u);
        expect_line(lines[0], "  USER", "100% %s %d %n");
        expect_line(lines[1], "  WARN", std::string(1023, 'y'));
    }
    {
        SCOPED_TRACE("below verbosity 4 nothing is forwarded, even a line that is written");
        stderr_capture err(dir_ / "stderr");
        log_set_verbosity(3);
        log_write(LVL_FATAL, "line only");
        log_set_verbosity(0);
        log_write(LVL_FATAL, "nowhere");
        log_set_verbosity(4);
        log_write(LVL_DEBUG, "marker 2");
        syslog_socket.expect_next(31, "marker 2");
        const auto lines = lines_of(err.text());
        ASSERT_EQ(lines.size(), 1u);
        expect_line(lines[0], " FATAL", "line only");
    }
    {
        SCOPED_TRACE("close stops forwarding");
        stderr_capture err(dir_ / "stderr");
        log_close();
        log_write(LVL_FATAL, "not forwarded");
        log_open(nullptr, true);
        log_write(LVL_DEBUG, "marker 3");
        syslog_socket.expect_next(31, "marker 3");
    }
}

}  // namespace
