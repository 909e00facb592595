#include <corvane/log.hpp>

#include <gtest/gtest.h>

#include "../support/temp_dir.hpp"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace corvane;
namespace fs = std::filesystem;

using corvane::test::read_file;
using corvane::test::write_file;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start + 1));
        start = end + 1;
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

// Points fd 2 at a temporary file for the lifetime of the object; text()
// restores it and returns what was written.
class stderr_capture {
public:
    explicit stderr_capture(const fs::path& file) : file_(file) {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    stderr_capture(const stderr_capture&) = delete;
    stderr_capture& operator=(const stderr_capture&) = delete;
    ~stderr_capture() { restore(); }

    std::string text() {
        restore();
        return read_file(file_);
    }

private:
    void restore() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
    }
    fs::path file_;
    int saved_ = -1;
};

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

TEST_F(Log, BeforeOpenAFatalMessageIsACompleteLineOnStderr) {
    stderr_capture err(dir_ / "stderr");
    log_write(LVL_FATAL, "boom %d", 7);
    const auto lines = lines_of(err.text());
    ASSERT_EQ(lines.size(), 1u);
    expect_line(lines[0], " FATAL", "boom 7");
}

TEST_F(Log, EveryLevelNameIsRightAlignedInSixColumns) {
    const fs::path file = dir_ / "all.log";
    log_open(file.c_str(), false);
    log_set_verbosity(11);
    for (int level = LVL_FATAL; level <= LVL_PLUGIN; ++level) {
        log_write(static_cast<log_level>(level), "level %d", level);
    }
    const auto lines = lines_of(read_file(file));
    ASSERT_EQ(lines.size(), 11u);
    for (std::size_t level = 0; level < lines.size(); ++level) {
        expect_line(lines[level], fields[level], "level " + std::to_string(level));
    }
}

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
        for (int level = LVL_FATAL; level <= LVL_PLUGIN; ++level) {
            log_write(static_cast<log_level>(level), "m");
        }
        const auto lines = lines_of(read_file(file));
        ASSERT_EQ(lines.size(), row.lines);
        for (std::size_t level = 0; level < lines.size(); ++level)
            expect_line(lines[level], fields[level], "m");
    }
}

TEST_F(Log, LevelsOutsideTheTableWriteNothing) {
    const fs::path file = dir_ / "out.log";
    log_open(file.c_str(), false);
    log_set_verbosity(1000);
    log_write(static_cast<log_level>(-1), "minus one");
    log_write(static_cast<log_level>(11), "eleven");
    log_write(static_cast<log_level>(500), "five hundred");
    EXPECT_EQ(read_file(file), "");
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
    for (std::size_t at = 0; at < std::size(cases); ++at) {
        expect_line(lines[at + 1], " ERROR", std::string(cases[at].kept, 'x'));
    }
}

TEST_F(Log, FileIsAppendedToAndHoldsEveryLineAtOnce) {
    const fs::path file = dir_ / "append.log";
    write_file(file, "earlier contents\n");
    log_open(file.c_str(), false);
    log_write(LVL_WARN, "first");
    // Read while the stream is still open: each line must be flushed.
    auto lines = lines_of(read_file(file));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "earlier contents\n");
    expect_line(lines[1], "  WARN", "first");

    log_write(LVL_USER, "second");
    lines = lines_of(read_file(file));
    ASSERT_EQ(lines.size(), 3u);
    expect_line(lines[2], "  USER", "second");
}

TEST_F(Log, OpenSetsTheCLocale) {
    if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr)
        GTEST_SKIP() << "no C.UTF-8 locale to start from";
    log_open(nullptr, false);
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
}

TEST_F(Log, OpenWithoutAPathWritesToStderr) {
    stderr_capture err(dir_ / "stderr");
    log_open(nullptr, false);
    log_write(LVL_USER, "to stderr");
    log_close();  // stderr stays the sink
    log_write(LVL_WARN, "still stderr");
    const auto lines = lines_of(err.text());
    ASSERT_EQ(lines.size(), 2u);
    expect_line(lines[0], "  USER", "to stderr");
    expect_line(lines[1], "  WARN", "still stderr");
}

TEST_F(Log, UnopenableFileFallsBackToStderrSilently) {
    const fs::path file = dir_ / "no-such-dir" / "x.log";
    stderr_capture err(dir_ / "stderr");
    log_open(file.c_str(), false);
    log_write(LVL_ERROR, "fallback");
    const auto lines = lines_of(err.text());
    ASSERT_EQ(lines.size(), 1u) << "nothing but the line itself";
    expect_line(lines[0], " ERROR", "fallback");
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(Log, CloseSendsLaterLinesToStderr) {
    const fs::path file = dir_ / "closed.log";
    log_open(file.c_str(), false);
    log_write(LVL_FATAL, "in the file");
    log_close();
    stderr_capture err(dir_ / "stderr");
    log_write(LVL_FATAL, "after close");
    const auto on_stderr = lines_of(err.text());
    ASSERT_EQ(on_stderr.size(), 1u);
    expect_line(on_stderr[0], " FATAL", "after close");
    const auto in_file = lines_of(read_file(file));
    ASSERT_EQ(in_file.size(), 1u);
    expect_line(in_file[0], " FATAL", "in the file");
}

TEST_F(Log, SecondOpenClosesTheFirstFile) {
    const fs::path first = dir_ / "first.log";
    const fs::path second = dir_ / "second.log";
    const int free_before = lowest_free_fd();
    log_open(first.c_str(), false);
    const int free_with_one = lowest_free_fd();
    EXPECT_EQ(free_with_one, free_before + 1);
    log_open(second.c_str(), false);
    EXPECT_EQ(lowest_free_fd(), free_with_one) << "the first log file was left open";

    log_write(LVL_WARN, "where");
    EXPECT_EQ(read_file(first), "");
    const auto lines = lines_of(read_file(second));
    ASSERT_EQ(lines.size(), 1u);
    expect_line(lines[0], "  WARN", "where");

    log_open(nullptr, false);  // back to stderr: the second file is closed too
    EXPECT_EQ(lowest_free_fd(), free_before);
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
            return;
        }
        if (lstat(path, &existing) == 0 || errno != ENOENT) {
            reason_ = "/dev/log exists: a system logger owns it";
            return;
        }
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path);
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            reason_ = std::string("cannot bind /dev/log: ") + std::strerror(errno);
            return;
        }
        bound_ = true;
        timeval timeout{2, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    fake_syslog(const fake_syslog&) = delete;
    fake_syslog& operator=(const fake_syslog&) = delete;
    ~fake_syslog() {
        if (bound_) unlink(path);
        if (fd_ >= 0) close(fd_);
    }

    const std::string& unavailable() const { return reason_; }

    // The next datagram, or nothing after two seconds.
    std::optional<std::string> receive() {
        std::vector<char> buffer(8192);
        const ssize_t got = recv(fd_, buffer.data(), buffer.size(), 0);
        if (got < 0) return std::nullopt;
        return std::string(buffer.data(), static_cast<std::size_t>(got));
    }

    // Checks that the next datagram is "<priority>STAMP corvane[PID]: text".
    void expect_next(int priority, const std::string& text) {
        const auto message = receive();
        ASSERT_TRUE(message.has_value()) << "nothing reached the system log";
        const std::string prefix = "<" + std::to_string(priority) + ">";
        EXPECT_EQ(message->substr(0, prefix.size()), prefix) << *message;
        const std::string ident = " corvane[" + std::to_string(getpid()) + "]: ";
        const std::size_t at = message->find(ident);
        ASSERT_NE(at, std::string::npos) << *message;
        EXPECT_EQ(message->substr(at + ident.size()), text);
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
