// The command-line cases of cli/cases/*.cases, each a test of its own (suite
// FILE_cases, test named after its title), run with the real binary in a
// fresh directory; and the command rows those files give every_command().
// docs/development.md describes the format.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#include "cli/userdb.hpp"

namespace corvane::test {
namespace {

using placeholders = std::map<std::string, std::string>;
constexpr char capitals[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";

// A line of a case file: its first word, the rest, the block lines below it.
struct entry {
    int line;
    std::string keyword, rest;
    std::vector<std::string> block;
};

struct case_def {
    std::string file, title;
    int line;
    std::vector<entry> entries;
};

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }
bool is(char c, int (*test)(int)) { return test(static_cast<unsigned char>(c)) != 0; }

// The bytes `raw` stands for; a \c that ends it sets *no_feed.
std::string decode(const std::string& raw, const placeholders& names, bool* no_feed = nullptr) {
    std::string out;
    for (std::size_t at = 0; at < raw.size();) {
        const char c = raw[at++];
        const char e = c == '\\' && at < raw.size() ? raw[at++] : '\0';
        const char* letter = std::strchr("trnv0", e);
        if (c == '$' && at < raw.size() && is(raw[at], isupper)) {
            const std::size_t end = std::min(raw.find_first_not_of(capitals, at), raw.size());
            const auto found = names.find(raw.substr(at, end - at));
            if (found == names.end()) fail("no placeholder $" + raw.substr(at, end - at));
            out += found->second;
            at = end;
        } else if (c != '\\') {
            out += c;
        } else if (e == 'x' && is(raw[at], isxdigit) && is(raw[at + 1], isxdigit)) {
            out += static_cast<char>(std::stoi(raw.substr(at, 2), nullptr, 16));
            at += 2;
        } else if (e == '{' && is(raw[at], isdigit)) {  // \{COUNT:TEXT}: TEXT COUNT times
            const std::size_t colon = raw.find(':', at), end = raw.find('}', colon);
            if (end == std::string::npos) fail("\\{ takes COUNT:TEXT}");
            const std::string piece = decode(raw.substr(colon + 1, end - colon - 1), names);
            for (unsigned long i = std::stoul(raw.substr(at)); i > 0; --i) out += piece;
            at = end + 1;
        } else if (e == 'c' && no_feed != nullptr && at == raw.size()) {
            *no_feed = true;
        } else if (e != '\0' && letter != nullptr) {
            out += "\t\r\n\v"[letter - "trnv0"];  // \0: the literal's terminating NUL
        } else if (e == '\0' || is(e, isalnum) || std::strchr("#{", e) != nullptr) {
            fail("\\" + std::string(e != '\0', e) + " is no escape");
        } else {
            out += e;
        }
    }
    return out;
}

// The words of `raw`, split at blanks outside double quotes and decoded;
// \N alone is NULL.
row words_of(const std::string& raw, const placeholders& names) {
    std::vector<std::string> words;
    bool quoted = false, in_word = false;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (!in_word && (raw[i] != ' ' || quoted)) words.emplace_back();
        in_word = raw[i] != ' ' || quoted;
        if (raw[i] == '"') quoted = !quoted;
        if (in_word && raw[i] != '"') words.back() += raw.substr(i, raw[i] == '\\' ? 2 : 1);
        if (raw[i] == '\\') ++i;
    }
    if (quoted) fail("a \" is not closed");
    row decoded;
    for (const auto& word : words) {
        decoded.push_back(word == "\\N" ? std::nullopt : std::optional(decode(word, names)));
    }
    return decoded;
}

std::vector<std::string> arguments(const std::string& raw, const placeholders& names) {
    std::vector<std::string> words;
    for (const auto& word : words_of(raw, names)) words.push_back(word.value());
    return words;
}

// The lines a block stands for: "| TEXT" one, "* FIRST..LAST TEXT" one for
// each number, put for \#.
std::vector<std::string> expanded(const std::vector<std::string>& block) {
    std::vector<std::string> lines;
    for (const std::string& line : block) {
        long first = 0, last = -1;
        int used = 0;
        if (line == "|" || line.rfind("| ", 0) == 0) {
            lines.push_back(line.substr(std::min<std::size_t>(line.size(), 2)));
        } else if (std::sscanf(line.c_str(), "* %ld..%ld%n", &first, &last, &used) != 2 ||
                   line.compare(static_cast<std::size_t>(used), 1, " ") != 0) {
            fail("expected | TEXT or * FIRST..LAST TEXT");
        }
        for (long number = first; number <= last; ++number) {
            std::string& text = lines.emplace_back();
            for (std::size_t at = static_cast<std::size_t>(used) + 1; at < line.size(); ++at) {
                const bool pair = line[at] == '\\' && at + 1 < line.size();
                text += pair && line[at + 1] == '#' ? std::to_string(number)
                                                    : line.substr(at, pair ? 2 : 1);
                at += pair;
            }
        }
    }
    return lines;
}

// The text on an entry's line from `skip` on (a * line too), or its block:
// each line and a line feed, but after one that ends in \c.
std::string text_of(const entry& e, const placeholders& names, std::size_t skip = 0) {
    const std::string on_line = e.rest.substr(std::min(skip, e.rest.size()));
    if (!on_line.empty() && !e.block.empty()) fail("a text on the line and a block below it");
    std::string bytes;
    for (const std::string& line :
         expanded(on_line.empty()               ? e.block
                  : on_line.rfind("* ", 0) == 0 ? std::vector{on_line}
                                                : std::vector{"| " + on_line})) {
        bool no_feed = false;
        bytes += decode(line, names, &no_feed);
        if (!no_feed) bytes += '\n';
    }
    return bytes;
}

// Rows one a line, each value quoted with its other bytes than printable
// ASCII as \xHH, so that a failure shows where they differ.
std::string shown(const std::vector<row>& rows) {
    std::string text;
    for (const row& values : rows) {
        for (const auto& value : values) {
            text += value ? "'" : "\\N ";
            for (const char c : value.value_or("")) {
                char hex[5] = {c};
                if (!is(c, isprint) || c == '\'' || c == '\\') {
                    std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
                }
                text += hex;
            }
            text += value ? "' " : "";
        }
        text += "\n";
    }
    return text;
}

// The cases of a file; `rows` gets its command rows.
std::vector<case_def> parse(const std::string& path, std::vector<command_row>& rows) {
    std::ifstream in(path, std::ios::binary);
    std::vector<case_def> cases(1);  // [0]: the lines before the first case, part of every case
    command_row* row = nullptr;      // that of the command line above, if nothing came between
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty() || line[0] == '#') continue;
        std::vector<entry>& entries = cases.back().entries;
        const std::size_t blank = std::min(line.find(' '), line.size());
        const entry read{
            number, line.substr(0, blank), line.substr(std::min(blank + 1, line.size())), {}};
        try {
            if (std::strchr(" \t\r", line.back()) != nullptr) {
                fail("the line ends in a blank: write it \\x20, \\t or \\r");
            } else if (line[0] == '|' || line[0] == '*') {
                if (entries.empty()) fail("a block belongs to a line above it");
                entries.back().block.push_back(line);
            } else if (read.keyword == "command") {
                row = &rows.emplace_back(command_row{arguments(read.rest, {}), "", false, ""});
            } else if (row != nullptr && read.keyword == "stdin:") {
                row->input = text_of(read, {});
            } else if (row != nullptr && read.keyword == "changes") {
                row->changes = true;
                row->refusal = text_of(read, {});
            } else if (read.keyword == "==") {
                cases.push_back({path, read.rest, number, cases[0].entries});
            } else {
                row = nullptr;
                entries.push_back(read);
            }
        } catch (const std::exception& e) {
            fail(path + ":" + std::to_string(number) + ": " + e.what());
        }
    }
    cases.erase(cases.begin());
    return cases;
}

// Runs a case's lines in order. A run and its also lines wait for the
// lines after them that say what they expect.
void run_case(const case_def& c) {
    temp_dir dir;
    placeholders names = {{"FILE", dir.file("users.db")},
                          {"DIR", dir.path()},
                          {"PROGRAM", CORVANE_USERDB_PATH},
                          {"VERSION", CORVANE_VERSION}};
    std::vector<const entry*> runs;
    run_options options;
    run_result expected{0, "", ""};
    const auto run_all = [&] {
        for (const entry* run : runs) {
            testing::ScopedTrace trace(c.file.c_str(), run->line, run->keyword + " " + run->rest);
            const run_result got = userdb(arguments(run->rest, names), options);
            EXPECT_EQ(got.status, expected.status);
            EXPECT_EQ(got.out, expected.out);
            EXPECT_EQ(got.err, expected.err);
        }
        runs.clear();
    };
    for (const entry& e : c.entries) try {
            testing::ScopedTrace trace(c.file.c_str(), e.line, e.keyword + " " + e.rest);
            const std::string& key = e.keyword;
            if (!e.block.empty() && key != "set" && key != "query" &&
                (key.size() < 2 || key.back() != ':' || key == "files:")) {
                fail("a block belongs to no line above it");
            }
            const bool about_run = key == "also" || key == "stdin:" || key == "stdout:" ||
                                   key == "stderr:" || key == "fails:" || key == "status";
            if (about_run && runs.empty()) fail(key + " belongs to a run above it");
            if (key == "also") runs.push_back(&e);
            if (key == "stdin:") options.stdin_text = text_of(e, names);
            if (key == "stdout:") expected.out = text_of(e, names);
            if (key == "stderr:" || key == "fails:") expected.err = text_of(e, names);
            if (key == "fails:") expected.status = 1;
            if (key == "status") expected.status = std::stoi(e.rest);
            if (about_run) continue;
            run_all();
            if (key == "run") {
                runs = {&e};
                options = {};
                options.cwd = dir.path();
                expected = {0, "", ""};
            } else if (const std::size_t colon = e.rest.find(':'); key == "set") {
                if (colon == 0 || colon == std::string::npos ||
                    e.rest.find_first_not_of(capitals) != colon) {
                    fail("expected set NAME: TEXT, NAME in capitals");
                }
                const std::string text = text_of(e, names, colon + 2);
                names[e.rest.substr(0, colon)] =
                    text.substr(0, text.size() - (!text.empty() && text.back() == '\n'));
            } else if (key == "sql") {
                sqlite_db(names["FILE"]).exec(decode(e.rest, names));
            } else if (key == "files:") {
                std::vector<std::string> got, wanted = arguments(e.rest, names);
                for (const auto& found : std::filesystem::directory_iterator(dir.path())) {
                    got.push_back(found.path().filename().string());
                }
                std::sort(got.begin(), got.end());
                std::sort(wanted.begin(), wanted.end());
                EXPECT_EQ(got, wanted);
            } else if (key == "rows:" || key == "query") {
                const std::string file = key == "query" || e.rest.empty()
                                             ? names["FILE"]
                                             : dir.file(decode(e.rest, names));
                if (!file_exists(file)) fail(file + " is missing");
                std::vector<row> wanted;
                for (const std::string& line : expanded(e.block))
                    wanted.push_back(words_of(line, names));
                const std::string sql = key == "query" ? decode(e.rest, names)
                                                       : "SELECT nickname, password, credentials "
                                                         "FROM users ORDER BY rowid";
                EXPECT_EQ(shown(sqlite_db(file).query(sql)), shown(wanted));
            } else {
                fail("unknown line");
            }
        } catch (const std::exception& error) {
            ADD_FAILURE_AT(c.file.c_str(), e.line) << error.what();
            return;
        }
    run_all();
}

class case_test : public testing::Test {
public:
    explicit case_test(case_def c) : case_(std::move(c)) {}
    void TestBody() override { run_case(case_); }

private:
    case_def case_;
};

std::vector<command_row> command_rows;

// Each case registered under its file's name and its title's letters and
// digits (every other run of bytes an underscore). A file that cannot be
// read stops the program.
[[maybe_unused]] const bool registered = [] {
    std::vector<std::filesystem::path> files;
    for (const auto& found : std::filesystem::directory_iterator(CORVANE_CASES_DIR)) {
        if (found.path().extension() == ".cases") files.push_back(found.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        std::vector<std::string> taken;
        for (const case_def& c : parse(file.string(), command_rows)) {
            std::string& name = taken.emplace_back();
            for (const char ch : c.title) {
                if (is(ch, isalnum)) name += ch;
                if (!is(ch, isalnum) && !name.empty() && name.back() != '_') name += '_';
            }
            if (!name.empty() && name.back() == '_') name.pop_back();
            if (name.empty() || std::count(taken.begin(), taken.end(), name) > 1) {
                fail(c.file + ":" + std::to_string(c.line) + ": a title names no new test");
            }
            testing::RegisterTest((file.stem().string() + "_cases").c_str(), name.c_str(), nullptr,
                                  nullptr, c.file.c_str(), c.line,
                                  [c] { return new case_test(c); });
        }
    }
    return true;
}();

}  // namespace

const std::vector<command_row>& every_command() { return command_rows; }

}  // namespace corvane::test
