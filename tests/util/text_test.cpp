#include <corvane/log.hpp>
#include <corvane/text.hpp>

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/heap_exhaustion.hpp"

namespace {

using namespace corvane;
namespace fs = std::filesystem;
using namespace std::string_literals;

using corvane::test::read_file;
using corvane::test::write_file;

// The pieces a walk offered, with their numbers; stops the walk (returns
// -1) on the piece numbered stop_at, after recording it.
struct recorder {
    std::vector<std::pair<std::string, int>> seen;
    int stop_at = -1;
};

int record(char* piece, int number, void* context) {
    auto* calls = static_cast<recorder*>(context);
    calls->seen.emplace_back(piece, number);
    return number == calls->stop_at ? -1 : 1;
}

using Pieces = std::vector<std::pair<std::string, int>>;
using Strings = std::vector<std::string>;

// A text argument as a trace shows it: quoted, or null.
std::string shown(const char* text) { return text != nullptr ? "\""s + text + "\"" : "null"; }

// Every case logs into a file of its own, read back by messages().
class Text : public ::testing::Test {
protected:
    void SetUp() override {
        log_close();
        log_set_verbosity(4);
        log_open((dir_ / "log").c_str(), false);
    }
    void TearDown() override {
        log_close();
        log_set_verbosity(4);
    }

    // The logged lines without their 19-byte time stamp and the blank after
    // it, e.g. "  WARN: File is empty.\n"; the log is emptied.
    Strings messages() {
        Strings lines;
        std::istringstream in(read_file(dir_ / "log"));
        for (std::string line; std::getline(in, line);) lines.push_back(line.substr(20) + "\n");
        fs::resize_file(dir_ / "log", 0);
        return lines;
    }

    corvane::test::temp_dir scratch_;
    fs::path dir_{scratch_.path()};
};

struct in_out {
    const char* in;
    const char* out;
};

TEST_F(Text, TrimBlanksStripsTabCarriageReturnAndSpaceOnly) {
    const in_out cases[] = {
        // clang-format off
        {"", ""},               {"plain", "plain"},         {" \t\r", ""},
        {"\t a b \r", "a b"},    {" \r\n x \n\r ", "\n x \n"},
        {"\v\fx\f", "\v\fx\f"}, {"\xA0x\xA0", "\xA0x\xA0"},
        // clang-format on
    };
    for (const auto& row : cases) {
        std::string storage = row.in;
        char* const trimmed = trim_blanks(storage.data());
        EXPECT_STREQ(trimmed, row.out) << '"' << row.in << '"';
        EXPECT_GE(trimmed, storage.data()) << "the result lies in the caller's storage";
        EXPECT_LE(trimmed, storage.data() + storage.size());
    }
    EXPECT_STREQ(trim_blanks(nullptr), "");
}

TEST_F(Text, UnquoteStripsOneMatchingOuterPair) {
    const in_out cases[] = {
        {"''", ""},       {"\"\"", ""},         {"'", "'"},         {"", ""},
        {"'a\"", "'a\""}, {"\"it's\"", "it's"}, {"'a'b'", "a'b"},   {"''x''", "'x'"},
        {"x'", "x'"},     {"'x", "'x"},         {"plain", "plain"}, {"`x`", "`x`"},
    };
    for (const auto& row : cases) {
        std::string storage = row.in;
        EXPECT_STREQ(unquote(storage.data()), row.out) << row.in;
    }
    EXPECT_EQ(unquote(nullptr), nullptr);
}

TEST_F(Text, UnescapeConfigLineResolvesEscapesAndCutsComments) {
    const std::string warning = "  WARN: Invalid backslash escape on line 7\n";
    struct {
        const char* in;
        const char* out;
        std::size_t warnings;
    } const cases[] = {
        // clang-format off
        {"", "", 0},                {"# comment", "", 0},
        {"key = value # note", "key = value ", 0},
        {R"(a\#b # c)", "a#b ", 0}, {R"(say \"hi\")", R"(say "hi")", 0},
        {R"(a\\b)", R"(a\b)", 0},   {R"(a\\#b)", R"(a\)", 0},   {"end\\", "end", 0},
        {R"(a\nb)", "anb", 1},      {R"(\'x\t)", "'xt", 2},   {R"(\n# \q)", "n", 1},
        // clang-format on
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.in);
        std::string storage = row.in;
        unescape_config_line(storage.data(), 7);
        EXPECT_STREQ(storage.c_str(), row.out);
        EXPECT_EQ(messages(), Strings(row.warnings, warning));
    }
    unescape_config_line(nullptr, 1);
}

TEST_F(Text, ForEachTokenNumbersEveryPieceAndOffersTheNonEmptyOnes) {
    struct {
        const char* text;
        const char* separator;
        int result;
        Pieces offered;
        int stop_at = -1;  // the callback stops the walk at this piece
    } const cases[] = {
        {"", ",", 1, {}},
        {"abc", ",", 1, {{"abc", 0}}},
        {",", ",", 2, {}},
        {"a,,b", ",", 3, {{"a", 0}, {"b", 2}}},
        {" a ,\t\r, b ", ",", 3, {{"a", 0}, {"b", 2}}},
        {"a\nb", ",", 1, {{"a\nb", 0}}},
        // A longer separator ends a piece at its first byte only.
        {"a::b", "::", 2, {{"a", 0}, {":b", 1}}},
        {"a:::b", "::", 3, {{"a", 0}, {":b", 2}}},
        {"key=>value", "=>", 2, {{"key", 0}, {">value", 1}}},
        // Stopped by the callback, also on the last piece.
        {"a,,b,c,d", ",", -1, {{"a", 0}, {"b", 2}}, 2},
        {"a,last", ",", -1, {{"a", 0}, {"last", 1}}, 1},
        // Missing arguments: nothing is offered.
        // clang-format off
        {nullptr, ",", -1, {}},  {"a,b", nullptr, -1, {}},  {"a,b", "", -1, {}},
        // clang-format on
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(shown(row.text) + " at " + shown(row.separator));
        const std::string text = row.text != nullptr ? row.text : "";
        recorder calls{{}, row.stop_at};
        EXPECT_EQ(for_each_token(row.text != nullptr ? text.c_str() : nullptr, row.separator,
                                 &calls, record),
                  row.result);
        EXPECT_EQ(calls.seen, row.offered);
        EXPECT_EQ(text, row.text != nullptr ? row.text : "") << "the text itself is left alone";
    }
}

TEST_F(Text, ForEachTokenPiecesAreWritableCopies) {
    const std::string text = "ab,cd";
    const auto shout = [](char* piece, int, void*) {
        for (char* p = piece; *p != '\0'; ++p)
            *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
        return 0;
    };
    EXPECT_EQ(for_each_token(text.c_str(), ",", nullptr, shout), 2);
    EXPECT_EQ(text, "ab,cd");
}

Strings strings_of(plist* list) {
    Strings items;
    for (std::size_t at = 0; at < plist_size(list); ++at)
        items.emplace_back(static_cast<char*>(plist_get(list, at)));
    return items;
}

void release_all(plist* list) {
    plist_clear(list, [](void* item) { std::free(item); });
}

TEST_F(Text, TokensToListAppendsUntrimmedCopiesOfThePieces) {
    struct {
        const char* text;
        const char* separator;
        bool keep_empty;
        int result;
        Strings items;
        Strings before = {};  // the list's items to start with
    } const cases[] = {
        {"a,b,", ",", false, 2, {"a", "b"}},
        {"a,b,", ",", true, 3, {"a", "b", ""}},
        {",", ",", false, 0, {}},
        {",", ",", true, 2, {"", ""}},
        {" a , b", ",", false, 2, {" a ", " b"}},
        {"solo", ",", false, 1, {"solo"}},
        // The whole separator is skipped.
        {"a::b", "::", false, 2, {"a", "b"}},
        {"a:::b", "::", false, 2, {"a", ":b"}},
        {"::::", "::", true, 3, {"", "", ""}},
        {"x;y", ";", false, 2, {"old", "x", "y"}, {"old"}},
        // Refused: the list keeps its items and its cursor.
        // clang-format off
        {nullptr, ",", true, -1, {"kept"}, {"kept"}},  {"", ",", true, -1, {"kept"}, {"kept"}},
        {"a,b", nullptr, true, -1, {"kept"}, {"kept"}}, {"a,b", "", true, -1, {"kept"}, {"kept"}},
        // clang-format on
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(shown(row.text) + " at " + shown(row.separator));
        plist list{};
        for (const std::string& item : row.before) plist_append(&list, strdup(item.c_str()));
        plist_seek_first(&list);
        EXPECT_EQ(tokens_to_list(row.text, row.separator, &list, row.keep_empty), row.result);
        EXPECT_EQ(strings_of(&list), row.items);
        EXPECT_TRUE(row.result >= 0 || list.cursor == list.first) << "a refusal moved the cursor";
        release_all(&list);
    }
    EXPECT_EQ(tokens_to_list("a,b", ",", nullptr, true), -1);
}

TEST_F(Text, ForEachFileLineOffersEachNonBlankLine) {
    struct {
        const char* name;
        std::string content;
        int result;
        Pieces offered;
        int stop_at = -1;  // the callback stops the walk at this line
        Strings logged = {};
    } const cases[] = {
        {"three lines", "one\ntwo\nthree\n", 4, {{"one", 1}, {"two", 2}, {"three", 3}}},
        {"blank second line", "one\n \t\r\nthree", 3, {{"one", 1}, {"three", 3}}},
        {"CRLF", "a\r\nb\r\n", 3, {{"a", 1}, {"b", 2}}},
        {"no final line feed", "x", 1, {{"x", 1}}},
        {"line feeds only", "\n\n", 3, {}},
        {"padded", "  padded  \n", 2, {{"padded", 1}}},
        {"NUL ends the text", "a\nb\0c\nd\n"s, 2, {{"a", 1}, {"b", 2}}},
        {"stopped silently", "one\ntwo\nthree\n", -1, {{"one", 1}, {"two", 2}}, 2},
        {"empty", "", 0, {}, -1, {"  WARN: File is empty.\n"}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const fs::path file = dir_ / "input";
        write_file(file, row.content);
        recorder calls{{}, row.stop_at};
        EXPECT_EQ(for_each_file_line(file.c_str(), &calls, record), row.result);
        EXPECT_EQ(calls.seen, row.offered);
        EXPECT_EQ(messages(), row.logged);
    }
}

TEST_F(Text, ForEachFileLineReportsFilesItCannotUse) {
    recorder calls;
    const fs::path missing = dir_ / "missing";
    EXPECT_EQ(for_each_file_line(missing.c_str(), &calls, record), -2);
    EXPECT_EQ(messages(), Strings{" ERROR: Unable to open file " + missing.string() +
                                  ": No such file or directory\n"});

    // A directory opens read-only but cannot be read.
    EXPECT_EQ(for_each_file_line(dir_.c_str(), &calls, record), -1);
    EXPECT_EQ(messages(),
              Strings{" ERROR: Unable to read from file " + dir_.string() + ": Is a directory\n"});

    EXPECT_EQ(for_each_file_line(nullptr, &calls, record), -2);
    EXPECT_TRUE(calls.seen.empty());
}

TEST_F(Text, ForEachFileLineReadsNoMoreThanTheLimit) {
    // 6000 lines of 11 bytes: the limit falls inside line 5958.
    std::string content;
    for (int line = 0; line < 6000; ++line) {
        char text[16];
        std::snprintf(text, sizeof text, "line %05d\n", line);
        content += text;
    }
    ASSERT_EQ(READ_LIMIT, 65534u);
    const fs::path file = dir_ / "long";
    write_file(file, content);
    recorder calls;
    EXPECT_EQ(for_each_file_line(file.c_str(), &calls, record), 5958);
    ASSERT_EQ(calls.seen.size(), 5958u);
    EXPECT_EQ(calls.seen.front(), (std::pair<std::string, int>{"line 00000", 1}));
    EXPECT_EQ(calls.seen[5956], (std::pair<std::string, int>{"line 05956", 5957}));
    EXPECT_EQ(calls.seen.back(), (std::pair<std::string, int>{"line 05", 5958}));
}

// Feeds a FIFO in pieces, 100 ms apart; with interrupt, signals the reading
// thread once more in the first pause.
void feed_fifo(const fs::path& fifo, const Strings& pieces, pthread_t reader, bool interrupt) {
    // A reader that gives up early must fail the test, not kill it.
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    const int fd = open(fifo.c_str(), O_WRONLY);
    if (fd < 0) return;
    for (std::size_t at = 0; at < pieces.size(); ++at) {
        if (at > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (at == 1 && interrupt) {
            pthread_kill(reader, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (write(fd, pieces[at].data(), pieces[at].size()) < 0) break;
    }
    close(fd);
}

void ignore_signal(int) {}

TEST_F(Text, ForEachFileLineReadsAFifoFedInPiecesAndAfterAnInterruptedRead) {
    // No SA_RESTART: a blocked read that the signal interrupts returns EINTR.
    struct sigaction action {};
    struct sigaction saved {};
    action.sa_handler = ignore_signal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &saved), 0);
    struct {
        Strings pieces;
        bool interrupt;
        Pieces offered;
    } const cases[] = {
        {{"alp", "ha\nbeta\r", "\n", "gamma"}, false, {{"alpha", 1}, {"beta", 2}, {"gamma", 3}}},
        {{"first\n", "second\n"}, true, {{"first", 1}, {"second", 2}}},
    };
    for (const auto& row : cases) {
        const fs::path fifo = dir_ / ("fifo" + std::to_string(row.interrupt));
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        std::thread writer(feed_fifo, fifo, row.pieces, pthread_self(), row.interrupt);
        recorder calls;
        const int result = for_each_file_line(fifo.c_str(), &calls, record);
        writer.join();
        EXPECT_EQ(result, 3);
        EXPECT_EQ(calls.seen, row.offered);
        EXPECT_TRUE(messages().empty());
    }
    sigaction(SIGUSR1, &saved, nullptr);
}

// Allocation failures, made real in a child whose heap has run dry. The
// child reports failed checks on stderr and through its exit code; its log
// goes to stderr.

class TextOutOfMemoryDeathTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* reason = corvane::test::heap_exhaustion_unavailable())
            GTEST_SKIP() << reason;
        log_close();
        log_set_verbosity(4);
    }
};

TEST_F(TextOutOfMemoryDeathTest, WithoutAWorkingCopyWalksFailAndTokensToListClearsTheList) {
    char pattern[] = "/tmp/corvane-text-XXXXXX";
    const int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "a\nb\n", 4), 4);
    close(fd);
    EXPECT_EXIT(
        {
            log_write(LVL_USER, "heap still there");  // loads the time zone first
            int failures = 0;
            recorder calls;
            plist list{};
            plist_append(&list, strdup("earlier"));
            plist_append(&list, strdup("items"));
            CHILD_CHECK(corvane::test::exhaust_heap());
            CHILD_CHECK(for_each_token("a,b", ",", &calls, record) == -1);
            CHILD_CHECK(for_each_file_line(pattern, &calls, record) == -1);
            CHILD_CHECK(calls.seen.empty());
            CHILD_CHECK(tokens_to_list("x,y", ",", &list, false) == -1);
            CHILD_CHECK(list.count == 0 && list.first == nullptr && list.last == nullptr);
            std::_Exit(failures);
        },
        ::testing::ExitedWithCode(0),
        "FATAL: Unable to allocate memory\n.*FATAL: Unable to allocate memory\n");
    unlink(pattern);
}

TEST_F(TextOutOfMemoryDeathTest, TokensToListReleasesAPieceItCouldNotStore) {
    // The piece gets the one block the heap has left; its node gets none.
    // That block must come back, or the piece leaked.
    static char piece[200];
    std::memset(piece, 'p', sizeof piece - 1);
    EXPECT_EXIT(
        {
            log_write(LVL_USER, "heap still there");
            int failures = 0;
            plist list{};
            void* volatile spare = std::malloc(sizeof piece);  // volatile: kept at -O2
            CHILD_CHECK(corvane::test::exhaust_heap());
            while (corvane::test::take(sizeof piece) != nullptr) {
            }
            std::free(spare);
            CHILD_CHECK(tokens_to_list(piece, ",", &list, false) == 0);
            CHILD_CHECK(list.count == 0 && list.first == nullptr);
            CHILD_CHECK(corvane::test::take(sizeof piece) != nullptr);
            CHILD_CHECK(corvane::test::take(sizeof piece) == nullptr);
            std::_Exit(failures);
        },
        ::testing::ExitedWithCode(0), "FATAL: Unable to allocate memory\n");
}

}  // namespace
